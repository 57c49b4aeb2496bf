#pragma once
// The effect's parameters: their ids, which are the contract with stored
// documents and with the rest of the effect, and the creation of the whole
// set through the host. A parameter is always addressed by its id.
#include <cstdint>
#include <string>

#include "platform/fxplug/fx_host_api.h"

namespace kv {
namespace param {

// Groups.
inline constexpr uint32_t analyzeGroup = 102;
inline constexpr uint32_t framingGroup = 104;
inline constexpr uint32_t smoothingGroup = 105;
inline constexpr uint32_t motionAreaGroup = 106;
inline constexpr uint32_t endpointsGroup = 107;
inline constexpr uint32_t colorGroup = 109;
inline constexpr uint32_t toggleGroup = 110;

inline constexpr uint32_t analyzeButton = 10;
inline constexpr uint32_t analysisData = 4;
inline constexpr uint32_t analysisHash = 5;
inline constexpr uint32_t minScale = 31;
inline constexpr uint32_t maxScale = 32;
inline constexpr uint32_t aspectRatioWidth = 21;
inline constexpr uint32_t aspectRatioHeight = 22;
inline constexpr uint32_t sensorSize = 24;
inline constexpr uint32_t focalLength = 25;
inline constexpr uint32_t paddingTop = 34;
inline constexpr uint32_t paddingBottom = 35;
inline constexpr uint32_t paddingLeft = 36;
inline constexpr uint32_t paddingRight = 37;
inline constexpr uint32_t easeTimeSmooth = 38;
inline constexpr uint32_t easeTimeMarginPan = 39;
inline constexpr uint32_t easeTimeMarginZoom = 40;
inline constexpr uint32_t easeInTime = 41;
inline constexpr uint32_t easeOutTime = 42;
inline constexpr uint32_t minMotionArea = 43;
inline constexpr uint32_t maxMotionArea = 44;
inline constexpr uint32_t motionBoxLeft = 81;
inline constexpr uint32_t motionBoxTop = 82;
inline constexpr uint32_t motionBoxRight = 83;
inline constexpr uint32_t motionBoxBottom = 84;
inline constexpr uint32_t beginOffsetX = 51;
inline constexpr uint32_t beginOffsetY = 52;
inline constexpr uint32_t beginScale = 53;
inline constexpr uint32_t endOffsetX = 61;
inline constexpr uint32_t endOffsetY = 62;
inline constexpr uint32_t endScale = 63;
inline constexpr uint32_t brightness = 91;
inline constexpr uint32_t enable = 70;
inline constexpr uint32_t examMode = 71;
inline constexpr uint32_t showBounds = 72;
inline constexpr uint32_t pluginVersion = 13;
inline constexpr uint32_t mixFrame = 77;

}  // namespace param

// The action of the "Analyze Clip" button.
inline constexpr const char* kStartAnalysisSelector = "startAnalysis";

// Creates every parameter in its order, `versionText` the default of the
// "Plugin version" parameter. Group starts and ends are issued whatever the
// host answers; a parameter the host refuses is logged and creation goes on.
void createParameterSet(FxParameterCreationAPI_v5& api, const std::string& versionText);

}  // namespace kv
