#pragma once
// Everything the render of one frame needs, computed by the state call and
// handed back by the host, unread, to the render call as UTF-8 JSON.
#include <optional>
#include <string>
#include <string_view>

#include "analysis/frame_config.h"
#include "analysis/motion_types.h"
#include "platform/coregraphics/cgrect.h"

namespace kv {

enum class RenderMode : int64_t {
    Normal = 0,  // the reframed picture
    Exam = 1,    // the whole frame, with the reframing's rectangles drawn over it
};

// The mode with that raw value, or none for any other number.
std::optional<RenderMode> renderModeFromRawValue(int64_t rawValue);

struct PluginState {
    MotionBounds motion;           // the analysis sample in effect at the frame
    MotionBounds processedBounds;  // its first box is the one the render crops to
    double frameMix = 0;
    double clipTimeFraction = 0;
    bool enable = false;
    RenderMode renderMode = RenderMode::Normal;
    bool showBounds = false;
    CGRect motionBox;  // the motion-detection area, in the fractions of Bounds
    FrameConfig config;

    friend bool operator==(const PluginState&, const PluginState&) = default;
};

json::Value encodeJson(const PluginState& state);
PluginState decodePluginState(const json::Reader& reader);

Result<std::string> encodePluginStateText(const PluginState& state);
Result<PluginState> decodePluginStateText(std::string_view text);

}  // namespace kv
