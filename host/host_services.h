#pragma once
// The host services of one effect instance, each answering as the real host
// does, over the instance's document. Every service can be made to refuse:
// creation per parameter or entirely (NO, nothing made), retrieval (NO, the
// place left as it was), setting (NO, nothing stored), timing (the places
// left as they were, rates 0). Each call the effect makes is written to the
// instance's call log. Withholding a service is the API manager's part.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/parameter_document.h"
#include "platform/fxplug/fx_host_api.h"

namespace kv::host {

// One call of a host service: its selector's first word, the parameter it
// addressed (0 when none) and the time it named (invalid when none).
struct HostCall {
    std::string selector;
    uint32_t parameterID = 0;
    CMTime time = kCMTimeInvalid;

    friend bool operator==(const HostCall&, const HostCall&) = default;
};

class CallLog {
public:
    void record(HostCall call);
    std::vector<HostCall> calls() const;
    // How many calls named `selector`.
    size_t count(const std::string& selector) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<HostCall> calls_;
};

// Shared by the services: the document, the call log and the refusal switch.
class HostService : public virtual FxHostAPI {
public:
    HostService(ParameterDocument& document, CallLog& log) : document_(document), log_(log) {}

    void setRefusing(bool refusing) { refusing_ = refusing; }
    bool refusing() const { return refusing_; }

protected:
    ParameterDocument& document_;
    CallLog& log_;

private:
    std::atomic<bool> refusing_{false};
};

class ParameterCreationService final : public HostService, public FxParameterCreationAPI_v5 {
public:
    using HostService::HostService;

    // Refuses the creation of this one parameter (a group start included).
    void refuseParameter(uint32_t parameterID);

    bool startParameterSubGroup(const std::string& name, uint32_t parameterID, FxParameterFlags flags) override;
    bool endParameterSubGroup() override;
    bool addPushButtonWithName(const std::string& name, uint32_t parameterID, const SEL& selector,
                               FxParameterFlags flags) override;
    bool addCustomParameterWithName(const std::string& name, uint32_t parameterID, const FxValue& defaultValue,
                                    FxParameterFlags flags) override;
    bool addPercentSliderWithName(const std::string& name, uint32_t parameterID, double defaultValue,
                                  double parameterMin, double parameterMax, double sliderMin, double sliderMax,
                                  double delta, FxParameterFlags flags) override;
    bool addFloatSliderWithName(const std::string& name, uint32_t parameterID, double defaultValue,
                                double parameterMin, double parameterMax, double sliderMin, double sliderMax,
                                double delta, FxParameterFlags flags) override;
    bool addToggleButtonWithName(const std::string& name, uint32_t parameterID, bool defaultValue,
                                 FxParameterFlags flags) override;
    bool addStringParameterWithName(const std::string& name, uint32_t parameterID, const std::string& defaultValue,
                                    FxParameterFlags flags) override;

private:
    bool create(const char* selector, ParameterDefinition definition);

    std::mutex mutex_;
    std::set<uint32_t> refused_;
};

class ParameterRetrievalService final : public HostService, public FxParameterRetrievalAPI_v6 {
public:
    using HostService::HostService;

    bool getCustomParameterValue(std::optional<FxValue>* value, uint32_t parameterID, CMTime time) override;
    bool getFloatValue(double* value, uint32_t parameterID, CMTime time) override;
    bool getBoolValue(bool* value, uint32_t parameterID, CMTime time) override;
    bool getStringParameterValue(std::string* value, uint32_t parameterID) override;
};

class CustomParameterSettingService final : public HostService, public FxParameterSettingAPI_v5 {
public:
    using HostService::HostService;

    bool setCustomParameterValue(const FxValue& value, uint32_t parameterID, CMTime time) override;
};

class StringParameterSettingService final : public HostService, public FxParameterSettingAPI_v6 {
public:
    using HostService::HostService;

    bool setStringParameterValue(const std::string& value, uint32_t parameterID) override;
};

// Where the effect lies on the host's time line.
struct EffectTiming {
    CMTime startTime = CMTimeMake(0, 30);
    CMTime duration = CMTimeMake(90, 30);
    uint32_t timelineFpsNumerator = 30;
    uint32_t timelineFpsDenominator = 1;
    CMTime frameDuration = CMTimeMake(1, 30);

    friend bool operator==(const EffectTiming&, const EffectTiming&) = default;
};

class TimingService final : public HostService, public FxTimingAPI_v4 {
public:
    using HostService::HostService;

    void setTiming(const EffectTiming& timing);
    EffectTiming timing() const;

    void startTimeForEffect(CMTime* startTime) override;
    void durationTimeForEffect(CMTime* duration) override;
    uint32_t timelineFpsNumeratorForEffect(const FxPlugIn* effect) override;
    uint32_t timelineFpsDenominatorForEffect(const FxPlugIn* effect) override;
    void frameDuration(CMTime* frameDuration) override;

private:
    mutable std::mutex mutex_;
    EffectTiming timing_;
};

// How the API manager answers for one protocol.
enum class ServiceAvailability {
    provided,   // the service
    withheld,   // none
    wrongKind,  // an object that offers no service at all
};

// The instance's API manager: the service registered for each protocol,
// unless that protocol is withheld or answered with the wrong kind.
class HostAPIManager final : public PROAPIAccessing {
public:
    void provide(FxProtocol protocol, std::shared_ptr<FxHostAPI> service);
    void setAvailability(FxProtocol protocol, ServiceAvailability availability);

    std::shared_ptr<FxHostAPI> apiForProtocol(FxProtocol protocol) override;

private:
    std::mutex mutex_;
    std::map<FxProtocol, std::shared_ptr<FxHostAPI>> services_;
    std::map<FxProtocol, ServiceAvailability> availability_;
};

}  // namespace kv::host
