#include "analysis/plugin_state.h"

namespace kv {

std::optional<RenderMode> renderModeFromRawValue(int64_t rawValue) {
    switch (rawValue) {
        case 0: return RenderMode::Normal;
        case 1: return RenderMode::Exam;
        default: return std::nullopt;
    }
}

json::Value encodeJson(const PluginState& state) {
    json::Value out = json::Value::object();
    out["motion"] = encodeJson(state.motion);
    out["processedBounds"] = encodeJson(state.processedBounds);
    out["frameMix"] = json::finiteNumber(state.frameMix, "frameMix");
    out["clipTimeFraction"] = json::finiteNumber(state.clipTimeFraction, "clipTimeFraction");
    out["enable"] = state.enable;
    out["renderMode"] = static_cast<int64_t>(state.renderMode);
    out["showBounds"] = state.showBounds;
    out["motionBox"] = encodeCGRect(state.motionBox);
    out["config"] = encodeJson(state.config);
    return out;
}

PluginState decodePluginState(const json::Reader& reader) {
    PluginState state;
    state.motion = decodeMotionBounds(reader.object("motion"));
    state.processedBounds = decodeMotionBounds(reader.object("processedBounds"));
    state.frameMix = reader.number("frameMix");
    state.clipTimeFraction = reader.number("clipTimeFraction");
    state.enable = reader.boolean("enable");
    const std::optional<RenderMode> mode = renderModeFromRawValue(reader.int64("renderMode"));
    if (!mode) json::fail("renderMode", "not a render mode (0 or 1)");
    state.renderMode = *mode;
    state.showBounds = reader.boolean("showBounds");
    state.motionBox = decodeCGRect(reader.member("motionBox"), "motionBox");
    state.config = decodeFrameConfig(reader.object("config"));
    return state;
}

Result<std::string> encodePluginStateText(const PluginState& state) {
    return json::encodeText(state, [](const PluginState& s) { return encodeJson(s); });
}

Result<PluginState> decodePluginStateText(std::string_view text) {
    return json::decodeText(text, decodePluginState);
}

}  // namespace kv
