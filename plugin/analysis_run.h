#pragma once
// The arithmetic and names of an analysis run, apart from the effect object
// that drives it.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "analysis/motion_types.h"

#include "platform/coremedia/cmtime.h"
#include "platform/foundation/result.h"
#include "platform/fxplug/fx_host_api.h"

namespace kv {

// The host's analysis state by name, for the log and the usage counter:
// "not_analyzing", "requested", "started", "completed", "interrupted", or
// "?" for a state outside 0...4.
std::string_view analysisStateName(FxAnalysisState state);

// The number of frames in the range: the ceiling of its duration over the
// frame duration, in seconds. An error when the frame duration is not a
// positive time, or the count is not a number of frames that a signed
// 64-bit integer holds.
Result<int64_t> analysisFrameCount(CMTimeRange timeRange, CMTime frameDuration);

// Frames between partial saves: 30 below 3000 frames, else a hundredth of them.
int64_t partialSaveInterval(int64_t frameCount);

// The samples of `found` and those of `earlier` that lie after `reached`
// (all of them when none is given), in time order; at equal times the
// sample found wins. Both lists are in time order.
std::vector<MotionBounds> withEarlierSamplesAfter(const std::vector<MotionBounds>& found,
                                                  const std::vector<MotionBounds>& earlier,
                                                  std::optional<CMTime> reached);

}  // namespace kv
