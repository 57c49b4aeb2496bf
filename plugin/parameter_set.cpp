#include "plugin/parameter_set.h"


#include "platform/foundation/log.h"

namespace kv {
namespace {

enum class Kind { groupStart, groupEnd, pushButton, custom, percentSlider, floatSlider, toggle, string };

// One creation call. Toggles take their default from `value` (0 is NO);
// custom parameters start with an empty dictionary, the string parameter
// with the version text.
struct Row {
    Kind kind;
    uint32_t id = 0;
    const char* name = "";
    double value = 0;
    double parameterMin = 0;
    double parameterMax = 0;
    double sliderMin = 0;
    double sliderMax = 0;
    double delta = 0;
    FxParameterFlags flags = kFxParameterFlag_DEFAULT;
    const char* refusedText = "";  // logged when the host refuses the row
};

using K = Kind;

// The flag sets of the table.
constexpr FxParameterFlags kNotAnimatable = kFxParameterFlag_NOT_ANIMATABLE;
// The stored analysis: one value, never shown.
constexpr FxParameterFlags kHiddenValue = kFxParameterFlag_NOT_ANIMATABLE | kFxParameterFlag_HIDDEN;
// The version text: kept up to date by the effect, not by the user or the document.
constexpr FxParameterFlags kDisplayOnly =
    kFxParameterFlag_NOT_ANIMATABLE | kFxParameterFlag_DISABLED | kFxParameterFlag_DONT_SAVE;
// The endpoint offsets: any value, whatever their minimum and maximum.
constexpr FxParameterFlags kUnboundedFixed = kFxParameterFlag_NOT_ANIMATABLE | kFxParameterFlag_IGNORE_MINMAX;

constexpr Row kRows[] = {
    {K::groupStart, param::analyzeGroup,
     "Video must be analyzed before any of the below settings can do anything useful."},
    {K::pushButton, param::analyzeButton, "Analyze Clip", 0, 0, 0, 0, 0, 0, 0, "Error adding analyze button"},
    {K::groupEnd},
    {K::custom, param::analysisData, "Analysis Data", 0, 0, 0, 0, 0, 0, kHiddenValue,
     "Error adding analysis data parameter"},
    {K::custom, param::analysisHash, "Analysis Hash", 0, 0, 0, 0, 0, 0, kHiddenValue,
     "Error adding analysis hash parameter"},
    {K::groupStart, param::framingGroup, "Framing"},
    {K::percentSlider, param::minScale, "Minimum scale", 1.0, 1.0, 10.0, 1.0, 4.0, 0.1, 0, "Error adding min scale"},
    {K::percentSlider, param::maxScale, "Maximum scale", 3.0, 1.0, 10.0, 1.0, 4.0, 0.1, 0, "Error adding max scale"},
    {K::floatSlider, param::aspectRatioWidth, "Destination width", 1920, 0, 10000, 0, 10000, 0.01, 0,
     "Error adding aspect ratio width"},
    {K::floatSlider, param::aspectRatioHeight, "Destination height", 1080, 0, 10000, 0, 10000, 0.01, 0,
     "Error adding aspect ratio height"},
    {K::floatSlider, param::sensorSize, "Sensor Size", 36, 1, 100, 1, 100, 0.01, 0, "Error adding sensor size"},
    {K::floatSlider, param::focalLength, "Focal Length", 24, 8, 2000, 8, 2000, 0.01, 0, "Error adding focal length"},
    {K::percentSlider, param::paddingTop, "Framing: top", 0.3, 0, 1, 0, 1, 0.01, 0, "Error adding padding top"},
    {K::percentSlider, param::paddingBottom, "Framing: bottom", 0.3, 0, 1, 0, 1, 0.01, 0,
     "Error adding padding bottom"},
    {K::percentSlider, param::paddingLeft, "Framing: left", 0.15, 0, 1, 0, 1, 0.01, 0, "Error adding padding left"},
    {K::percentSlider, param::paddingRight, "Framing: right", 0.15, 0, 1, 0, 1, 0.01, 0,
     "Error adding padding right"},
    {K::groupEnd},
    {K::groupStart, param::smoothingGroup, "Smoothing"},
    {K::floatSlider, param::easeTimeSmooth, "Frame time", 2.0, 0, 10, 0, 10, 0.1, 0, "Error adding ease time smooth"},
    {K::floatSlider, param::easeTimeMarginPan, "Pan time", 4.0, 0, 10, 0, 10, 0.1, 0,
     "Error adding ease time margin pan"},
    {K::floatSlider, param::easeTimeMarginZoom, "Zoom time", 4.0, 0, 10, 0, 10, 0.1, 0,
     "Error adding ease time margin zoom"},
    {K::floatSlider, param::easeInTime, "Ease-in time", 0.0, 0, 10, 0, 10, 0.1, kNotAnimatable,
     "Error adding ease-in time"},
    {K::floatSlider, param::easeOutTime, "Ease-out time", 0.0, 0, 10, 0, 10, 0.1, kNotAnimatable,
     "Error adding ease-out time"},
    {K::percentSlider, param::minMotionArea, "Minimum motion", 0.001, 0.001, 1, 0.001, 1, 0.001, 0,
     "Error adding min motion"},
    {K::percentSlider, param::maxMotionArea, "Maximum motion", 1.0, 0.001, 1, 0.001, 1, 0.001, 0,
     "Error adding max motion"},
    {K::groupEnd},
    {K::groupStart, param::motionAreaGroup, "Motion detection area"},
    {K::percentSlider, param::motionBoxLeft, "Motion-bound left", 0.02, 0, 1, 0, 1, 0.01, 0,
     "Error adding motion-box left"},
    {K::percentSlider, param::motionBoxTop, "Motion-bound top", 0.55, 0, 1, 0, 1, 0.01, 0,
     "Error adding motion-box top"},
    {K::percentSlider, param::motionBoxRight, "Motion-bound right", 0.98, 0, 1, 0, 1, 0.01, 0,
     "Error adding motion-box right"},
    {K::percentSlider, param::motionBoxBottom, "Motion-bound bottom", 0.1, 0, 1, 0, 1, 0.01, 0,
     "Error adding motion-box bottom"},
    {K::groupEnd},
    {K::groupStart, param::endpointsGroup, "Endpoints"},
    {K::floatSlider, param::beginOffsetX, "Begin offset X", 0, 0, 0, -4096, 4096, 10, kUnboundedFixed,
     "Error adding begin x"},
    {K::floatSlider, param::beginOffsetY, "Begin offset Y", 0, 0, 0, -4096, 4096, 10, kUnboundedFixed,
     "Error adding begin y"},
    {K::percentSlider, param::beginScale, "Begin scale", 1.0, 1.0, 10.0, 1.0, 4.0, 0.1, kNotAnimatable,
     "Error adding begin scale"},
    {K::floatSlider, param::endOffsetX, "End offset X", 0, 0, 0, -4096, 4096, 10, kUnboundedFixed,
     "Error adding end x"},
    {K::floatSlider, param::endOffsetY, "End offset Y", 0, 0, 0, -4096, 4096, 10, kUnboundedFixed,
     "Error adding end y"},
    {K::percentSlider, param::endScale, "End scale", 1.0, 1.0, 10.0, 1.0, 4.0, 0.1, kNotAnimatable,
     "Error adding end scale"},
    {K::groupEnd},
    {K::groupStart, param::colorGroup, "Color"},
    {K::percentSlider, param::brightness, "Brightness", 1.0, 0, 10, 0, 10, 0.1, 0, "Error adding brightness"},
    {K::groupEnd},
    {K::groupStart, param::toggleGroup, "Toggle"},
    {K::toggle, param::enable, "Enable", 0, 0, 0, 0, 0, 0, 0, "Error adding toggle enable"},
    {K::toggle, param::examMode, "Exam mode", 0, 0, 0, 0, 0, 0, 0, "Error adding toggle render mode"},
    {K::toggle, param::showBounds, "Show bounds", 0, 0, 0, 0, 0, 0, 0, "Error adding toggle show bounds"},
    {K::groupEnd},
    {K::string, param::pluginVersion, "Plugin version", 0, 0, 0, 0, 0, 0, kDisplayOnly, "Error adding app version"},
    {K::percentSlider, param::mixFrame, "Framing: mix", 1.0, 0, 1, 0, 1, 0.001, 0, "Error adding mix frame %"},
};

// One row's creation call; the host's answer.
bool create(FxParameterCreationAPI_v5& api, const Row& row, const std::string& versionText) {
    switch (row.kind) {
        case Kind::groupStart: return api.startParameterSubGroup(row.name, row.id, row.flags);
        case Kind::groupEnd: return api.endParameterSubGroup();
        case Kind::pushButton: return api.addPushButtonWithName(row.name, row.id, kStartAnalysisSelector, row.flags);
        case Kind::custom: return api.addCustomParameterWithName(row.name, row.id, NSDictionary{}, row.flags);
        case Kind::percentSlider:
            return api.addPercentSliderWithName(row.name, row.id, row.value, row.parameterMin, row.parameterMax,
                                                row.sliderMin, row.sliderMax, row.delta, row.flags);
        case Kind::floatSlider:
            return api.addFloatSliderWithName(row.name, row.id, row.value, row.parameterMin, row.parameterMax,
                                              row.sliderMin, row.sliderMax, row.delta, row.flags);
        case Kind::toggle: return api.addToggleButtonWithName(row.name, row.id, row.value != 0, row.flags);
        case Kind::string: return api.addStringParameterWithName(row.name, row.id, versionText, row.flags);
    }
    return false;
}

}  // namespace

void createParameterSet(FxParameterCreationAPI_v5& api, const std::string& versionText) {
    for (const Row& row : kRows) {
        const bool created = create(api, row, versionText);
        const bool isGroupEdge = row.kind == Kind::groupStart || row.kind == Kind::groupEnd;
        if (!created && !isGroupEdge) NSLog(row.refusedText);
    }
}

}  // namespace kv
