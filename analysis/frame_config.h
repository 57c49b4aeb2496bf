#pragma once
// The framing settings in force at one clip time, read from the effect's
// parameters, and their JSON form (keys are the field names).
#include <cstdint>

#include "platform/coregraphics/cgrect.h"
#include "platform/foundation/json_coding.h"

namespace kv {

struct FrameConfig {
    bool enable = false;
    double mixFrame = 0;
    double minScale = 0;
    double maxScale = 0;
    double aspectRatioWidth = 0;
    double aspectRatioHeight = 0;
    double sensorSize = 0;
    double focalLength = 0;
    double paddingTop = 0;     // margin above the followed box (at maxY), fraction of its height
    double paddingBottom = 0;  // margin below it (at minY)
    double paddingLeft = 0;    // margin left of it (at minX), fraction of its width
    double paddingRight = 0;
    double motionBoxTop = 0;  // edges of the motion-detection area, fractions of the frame
    double motionBoxBottom = 0;
    double motionBoxLeft = 0;
    double motionBoxRight = 0;
    int64_t minMovedPixels = 0;
    double easeTimeSmooth = 0;  // seconds
    double easeTimeMarginPan = 0;
    double easeTimeMarginZoom = 0;
    double easeInTime = 0;
    double easeOutTime = 0;
    double minMotionArea = 0;  // fractions of the frame area
    double maxMotionArea = 0;
    double brightness = 0;

    friend bool operator==(const FrameConfig&, const FrameConfig&) = default;
};

// Calls visit(key, member) for every field in declaration order; the one
// list from which both directions of the coding are made.
template <class Config, class Visit>
void forEachField(Config& c, Visit&& visit) {
    visit("enable", c.enable);
    visit("mixFrame", c.mixFrame);
    visit("minScale", c.minScale);
    visit("maxScale", c.maxScale);
    visit("aspectRatioWidth", c.aspectRatioWidth);
    visit("aspectRatioHeight", c.aspectRatioHeight);
    visit("sensorSize", c.sensorSize);
    visit("focalLength", c.focalLength);
    visit("paddingTop", c.paddingTop);
    visit("paddingBottom", c.paddingBottom);
    visit("paddingLeft", c.paddingLeft);
    visit("paddingRight", c.paddingRight);
    visit("motionBoxTop", c.motionBoxTop);
    visit("motionBoxBottom", c.motionBoxBottom);
    visit("motionBoxLeft", c.motionBoxLeft);
    visit("motionBoxRight", c.motionBoxRight);
    visit("minMovedPixels", c.minMovedPixels);
    visit("easeTimeSmooth", c.easeTimeSmooth);
    visit("easeTimeMarginPan", c.easeTimeMarginPan);
    visit("easeTimeMarginZoom", c.easeTimeMarginZoom);
    visit("easeInTime", c.easeInTime);
    visit("easeOutTime", c.easeOutTime);
    visit("minMotionArea", c.minMotionArea);
    visit("maxMotionArea", c.maxMotionArea);
    visit("brightness", c.brightness);
}

// The settings in force when every framing parameter is at its default
// (also those of a frame without an analysis): enable on, 200 moved pixels.
FrameConfig startingFrameConfig();

// The motion-detection area as a rectangle, in the fractions of Bounds; its
// height is negative when the top edge lies above the bottom one, as it does
// by default.
CGRect motionBoxRect(const FrameConfig& config);

json::Value encodeJson(const FrameConfig& config);
FrameConfig decodeFrameConfig(const json::Reader& reader);

}  // namespace kv
