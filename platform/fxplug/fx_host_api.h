#pragma once
// The services a host offers an effect, reached through the host's API
// manager. `apiForProtocol` answers with some object or none; the object may
// not be of the asked kind, so callers go through `fxAPI<API>`, which gives
// none in both cases.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/coremedia/cmtime.h"
#include "platform/foundation/ns_object.h"
#include "platform/fxplug/fx_value.h"

class FxPlugIn;
struct NSError;

enum class FxProtocol {
    FxParameterCreationAPI_v5,
    FxParameterRetrievalAPI_v6,
    FxParameterSettingAPI_v5,
    FxParameterSettingAPI_v6,
    FxAnalysisAPI_v2,
    FxTimingAPI_v4,
};

// Any object the host answers `apiForProtocol` with.
class FxHostAPI {
public:
    virtual ~FxHostAPI() = default;
};

class PROAPIAccessing {
public:
    virtual ~PROAPIAccessing() = default;
    virtual std::shared_ptr<FxHostAPI> apiForProtocol(FxProtocol protocol) = 0;
};

// The service for API's protocol, when the manager has one of that kind.
template <class API>
std::shared_ptr<API> fxAPI(PROAPIAccessing& manager) {
    return std::dynamic_pointer_cast<API>(manager.apiForProtocol(API::protocol));
}

// Parameter flags, combined with "|" and passed to the host unchanged.
using FxParameterFlags = uint32_t;
enum : FxParameterFlags {
    kFxParameterFlag_DEFAULT = 0,
    // Holds one value for the whole clip: no keyframes.
    kFxParameterFlag_NOT_ANIMATABLE = 1u << 0,
    // Not shown in the inspector.
    kFxParameterFlag_HIDDEN = 1u << 1,
    // Shown in the inspector, but the user cannot change it there.
    kFxParameterFlag_DISABLED = 1u << 2,
    // Its value is not kept in the document.
    kFxParameterFlag_DONT_SAVE = 1u << 4,
    // A slider that takes values beyond its parameter minimum and maximum.
    kFxParameterFlag_IGNORE_MINMAX = 1u << 8,
};

class FxParameterCreationAPI_v5 : public virtual FxHostAPI {
public:
    static constexpr FxProtocol protocol = FxProtocol::FxParameterCreationAPI_v5;

    virtual bool startParameterSubGroup(const std::string& name, uint32_t parameterID, FxParameterFlags flags) = 0;
    virtual bool endParameterSubGroup() = 0;
    virtual bool addPushButtonWithName(const std::string& name, uint32_t parameterID, const SEL& selector,
                                       FxParameterFlags flags) = 0;
    virtual bool addCustomParameterWithName(const std::string& name, uint32_t parameterID,
                                            const FxValue& defaultValue, FxParameterFlags flags) = 0;
    virtual bool addPercentSliderWithName(const std::string& name, uint32_t parameterID, double defaultValue,
                                          double parameterMin, double parameterMax, double sliderMin,
                                          double sliderMax, double delta, FxParameterFlags flags) = 0;
    virtual bool addFloatSliderWithName(const std::string& name, uint32_t parameterID, double defaultValue,
                                        double parameterMin, double parameterMax, double sliderMin,
                                        double sliderMax, double delta, FxParameterFlags flags) = 0;
    virtual bool addToggleButtonWithName(const std::string& name, uint32_t parameterID, bool defaultValue,
                                         FxParameterFlags flags) = 0;
    virtual bool addStringParameterWithName(const std::string& name, uint32_t parameterID,
                                            const std::string& defaultValue, FxParameterFlags flags) = 0;
};

// Each getter writes the value at the time into the place passed, or leaves
// the place as it was. A custom parameter without a value leaves none.
class FxParameterRetrievalAPI_v6 : public virtual FxHostAPI {
public:
    static constexpr FxProtocol protocol = FxProtocol::FxParameterRetrievalAPI_v6;

    virtual bool getCustomParameterValue(std::optional<FxValue>* value, uint32_t parameterID, CMTime time) = 0;
    virtual bool getFloatValue(double* value, uint32_t parameterID, CMTime time) = 0;
    virtual bool getBoolValue(bool* value, uint32_t parameterID, CMTime time) = 0;
    virtual bool getStringParameterValue(std::string* value, uint32_t parameterID) = 0;
};

class FxParameterSettingAPI_v5 : public virtual FxHostAPI {
public:
    static constexpr FxProtocol protocol = FxProtocol::FxParameterSettingAPI_v5;

    virtual bool setCustomParameterValue(const FxValue& value, uint32_t parameterID, CMTime time) = 0;
};

class FxParameterSettingAPI_v6 : public virtual FxHostAPI {
public:
    static constexpr FxProtocol protocol = FxProtocol::FxParameterSettingAPI_v6;

    virtual bool setStringParameterValue(const std::string& value, uint32_t parameterID) = 0;
};

using FxAnalysisState = uint32_t;
enum : FxAnalysisState {
    kFxAnalysisState_NotAnalyzing = 0,
    kFxAnalysisState_AnalysisRequested = 1,
    kFxAnalysisState_AnalysisStarted = 2,
    kFxAnalysisState_AnalysisCompleted = 3,
    kFxAnalysisState_AnalysisInterrupted = 4,
};

using FxAnalysisLocation = uint32_t;
enum : FxAnalysisLocation {
    kFxAnalysisLocation_GPU = 0,
    kFxAnalysisLocation_CPU = 1,
};

class FxAnalysisAPI_v2 : public virtual FxHostAPI {
public:
    static constexpr FxProtocol protocol = FxProtocol::FxAnalysisAPI_v2;

    virtual FxAnalysisState analysisStateForEffect() = 0;
    // YES when the host will run the analysis; NO with an error in `error`.
    virtual bool startForwardAnalysis(FxAnalysisLocation location, NSError* error) = 0;
};

class FxTimingAPI_v4 : public virtual FxHostAPI {
public:
    static constexpr FxProtocol protocol = FxProtocol::FxTimingAPI_v4;

    virtual void startTimeForEffect(CMTime* startTime) = 0;
    virtual void durationTimeForEffect(CMTime* duration) = 0;
    virtual uint32_t timelineFpsNumeratorForEffect(const FxPlugIn* effect) = 0;
    virtual uint32_t timelineFpsDenominatorForEffect(const FxPlugIn* effect) = 0;
    virtual void frameDuration(CMTime* frameDuration) = 0;
};
