#pragma once
// The arithmetic of one frame's state, apart from the effect object that
// gathers its inputs from the host: which analysis sample is shown, the crop
// box blended from the smoothed bounds around three knot times, and the fade
// at the ends of the effect.
#include <array>

#include "analysis/frame_config.h"
#include "analysis/motion_types.h"
#include "analysis/plugin_state.h"
#include "platform/coregraphics/cgrect.h"
#include "platform/coremedia/cmtime.h"

namespace kv {

// The state of a frame for which no analysis is stored: no motion, no crop
// box, the starting settings, the whole reframing mixed in.
PluginState emptyPluginState(CMTime renderTime);

// The sample shown at `renderTime`: the last one before renderTime + half a
// sample period (the first when all are later), or an empty sample at
// renderTime when it is older than one period or there is none. Logs the
// chosen sample's boxes as JSON, stale or not.
MotionBounds motionSampleAt(const MotionAnalysis& analysis, CMTime renderTime, double samplePeriod);

// Seconds from the effect's start of the three knots around t, spaced by
// easeTimeSmooth; all three at t when that spacing is not positive.
std::array<double, 3> knotOffsets(double t, double easeTimeSmooth);

// A box the crop can follow: counted, not all zero, wider and taller than
// 0.001.
bool isUsableCropBounds(const Bounds& b);

// The crop box at t: its position blended from the pan bounds at the three
// knots, its size from the zoom bounds, then fitted into the unit square.
// The zero box when any of the six bounds is not usable.
Bounds interpolateCropBox(const std::array<Bounds, 3>& pan, const std::array<Bounds, 3>& zoom,
                          const std::array<double, 3>& knots, double t);

// The share of the reframing at t seconds into the effect with `rest`
// seconds left: a smooth step up over easeInTime at the start (in its first
// half only) and down over easeOutTime at the end; 1 in between.
double fadeFactor(double t, double rest, double clipFraction, double easeInTime, double easeOutTime);

}  // namespace kv
