#pragma once
// The framing settings the effect reads when every parameter is at its
// default, for tests and benchmarks of the reframing.
#include "analysis/frame_config.h"

namespace kv::testing {

inline FrameConfig defaultSettings() {
    FrameConfig c;
    c.enable = true;
    c.mixFrame = 1.0;
    c.minScale = 1.0;
    c.maxScale = 3.0;
    c.aspectRatioWidth = 1920.0;
    c.aspectRatioHeight = 1080.0;
    c.sensorSize = 36.0;
    c.focalLength = 24.0;
    c.paddingTop = 0.3;
    c.paddingBottom = 0.3;
    c.paddingLeft = 0.15;
    c.paddingRight = 0.15;
    c.motionBoxTop = 0.55;
    c.motionBoxBottom = 0.1;
    c.motionBoxLeft = 0.02;
    c.motionBoxRight = 0.98;
    c.minMovedPixels = 200;
    c.easeTimeSmooth = 2.0;
    c.easeTimeMarginPan = 4.0;
    c.easeTimeMarginZoom = 4.0;
    c.easeInTime = 0.0;
    c.easeOutTime = 0.0;
    c.minMotionArea = 0.001;
    c.maxMotionArea = 1.0;
    c.brightness = 1.0;
    return c;
}

}  // namespace kv::testing
