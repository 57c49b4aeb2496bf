#include "host/host_services.h"

#include <algorithm>

namespace kv::host {

void CallLog::record(HostCall call) {
    std::lock_guard guard(mutex_);
    calls_.push_back(std::move(call));
}

std::vector<HostCall> CallLog::calls() const {
    std::lock_guard guard(mutex_);
    return calls_;
}

size_t CallLog::count(const std::string& selector) const {
    std::lock_guard guard(mutex_);
    return size_t(std::count_if(calls_.begin(), calls_.end(),
                                [&](const HostCall& call) { return call.selector == selector; }));
}

void CallLog::clear() {
    std::lock_guard guard(mutex_);
    calls_.clear();
}

// Creation

namespace {

ParameterDefinition define(ParameterKind kind, const std::string& name = {}, uint32_t id = 0, FxParameterFlags flags = 0,
                       DefaultValue defaultValue = {}, SliderRange range = {}) {
    ParameterDefinition definition;
    definition.kind = kind;
    definition.name = name;
    definition.id = id;
    definition.flags = flags;
    definition.defaultValue = std::move(defaultValue);
    definition.range = range;
    return definition;
}

}  // namespace

void ParameterCreationService::refuseParameter(uint32_t parameterID) {
    std::lock_guard guard(mutex_);
    refused_.insert(parameterID);
}

bool ParameterCreationService::create(const char* selector, ParameterDefinition definition) {
    log_.record(HostCall{selector, definition.id, kCMTimeInvalid});
    bool refuse = refusing();
    if (definition.kind != ParameterKind::groupEnd) {
        std::lock_guard guard(mutex_);
        refuse = refuse || refused_.count(definition.id) > 0;
    }
    return document_.create(std::move(definition), refuse);
}

bool ParameterCreationService::startParameterSubGroup(const std::string& name, uint32_t parameterID,
                                                      FxParameterFlags flags) {
    return create("startParameterSubGroup", define(ParameterKind::groupStart, name, parameterID, flags));
}

bool ParameterCreationService::endParameterSubGroup() {
    return create("endParameterSubGroup", define(ParameterKind::groupEnd));
}

bool ParameterCreationService::addPushButtonWithName(const std::string& name, uint32_t parameterID,
                                                     const SEL& selector, FxParameterFlags flags) {
    ParameterDefinition definition = define(ParameterKind::pushButton, name, parameterID, flags);
    definition.selector = selector;
    return create("addPushButtonWithName", std::move(definition));
}

bool ParameterCreationService::addCustomParameterWithName(const std::string& name, uint32_t parameterID,
                                                          const FxValue& defaultValue, FxParameterFlags flags) {
    return create("addCustomParameterWithName",
                  define(ParameterKind::custom, name, parameterID, flags, defaultValue));
}

bool ParameterCreationService::addPercentSliderWithName(const std::string& name, uint32_t parameterID,
                                                        double defaultValue, double parameterMin, double parameterMax,
                                                        double sliderMin, double sliderMax, double delta,
                                                        FxParameterFlags flags) {
    return create("addPercentSliderWithName",
                  define(ParameterKind::percentSlider, name, parameterID, flags, defaultValue,
                                SliderRange{parameterMin, parameterMax, sliderMin, sliderMax, delta}));
}

bool ParameterCreationService::addFloatSliderWithName(const std::string& name, uint32_t parameterID,
                                                      double defaultValue, double parameterMin, double parameterMax,
                                                      double sliderMin, double sliderMax, double delta,
                                                      FxParameterFlags flags) {
    return create("addFloatSliderWithName",
                  define(ParameterKind::floatSlider, name, parameterID, flags, defaultValue,
                                SliderRange{parameterMin, parameterMax, sliderMin, sliderMax, delta}));
}

bool ParameterCreationService::addToggleButtonWithName(const std::string& name, uint32_t parameterID,
                                                       bool defaultValue, FxParameterFlags flags) {
    return create("addToggleButtonWithName",
                  define(ParameterKind::toggle, name, parameterID, flags, defaultValue));
}

bool ParameterCreationService::addStringParameterWithName(const std::string& name, uint32_t parameterID,
                                                          const std::string& defaultValue, FxParameterFlags flags) {
    return create("addStringParameterWithName",
                  define(ParameterKind::string, name, parameterID, flags, defaultValue));
}

// Retrieval

namespace {

// Writes a value the document holds into the caller's place.
template <class T>
bool writeTo(T* place, std::optional<T> stored) {
    if (!stored || !place) return false;
    *place = std::move(*stored);
    return true;
}

}  // namespace

bool ParameterRetrievalService::getCustomParameterValue(std::optional<FxValue>* value, uint32_t parameterID,
                                                        CMTime time) {
    log_.record(HostCall{"getCustomParameterValue", parameterID, time});
    if (refusing()) return false;
    auto stored = document_.customValue(parameterID);
    if (!stored || !value) return false;
    *value = std::move(stored);
    return true;
}

bool ParameterRetrievalService::getFloatValue(double* value, uint32_t parameterID, CMTime time) {
    log_.record(HostCall{"getFloatValue", parameterID, time});
    if (refusing()) return false;
    return writeTo(value, document_.floatValue(parameterID, time));
}

bool ParameterRetrievalService::getBoolValue(bool* value, uint32_t parameterID, CMTime time) {
    log_.record(HostCall{"getBoolValue", parameterID, time});
    if (refusing()) return false;
    return writeTo(value, document_.boolValue(parameterID, time));
}

bool ParameterRetrievalService::getStringParameterValue(std::string* value, uint32_t parameterID) {
    log_.record(HostCall{"getStringParameterValue", parameterID, kCMTimeInvalid});
    if (refusing()) return false;
    return writeTo(value, document_.stringValue(parameterID));
}

// Setting

bool CustomParameterSettingService::setCustomParameterValue(const FxValue& value, uint32_t parameterID, CMTime time) {
    log_.record(HostCall{"setCustomParameterValue", parameterID, time});
    if (refusing()) return false;
    return document_.setCustomValue(parameterID, value);
}

bool StringParameterSettingService::setStringParameterValue(const std::string& value, uint32_t parameterID) {
    log_.record(HostCall{"setStringParameterValue", parameterID, kCMTimeInvalid});
    if (refusing()) return false;
    return document_.setStringValue(parameterID, value);
}

// Timing

void TimingService::setTiming(const EffectTiming& timing) {
    std::lock_guard guard(mutex_);
    timing_ = timing;
}

EffectTiming TimingService::timing() const {
    std::lock_guard guard(mutex_);
    return timing_;
}

void TimingService::startTimeForEffect(CMTime* startTime) {
    log_.record(HostCall{"startTimeForEffect"});
    if (!refusing() && startTime) *startTime = timing().startTime;
}

void TimingService::durationTimeForEffect(CMTime* duration) {
    log_.record(HostCall{"durationTimeForEffect"});
    if (!refusing() && duration) *duration = timing().duration;
}

uint32_t TimingService::timelineFpsNumeratorForEffect(const FxPlugIn*) {
    log_.record(HostCall{"timelineFpsNumeratorForEffect"});
    return refusing() ? 0 : timing().timelineFpsNumerator;
}

uint32_t TimingService::timelineFpsDenominatorForEffect(const FxPlugIn*) {
    log_.record(HostCall{"timelineFpsDenominatorForEffect"});
    return refusing() ? 0 : timing().timelineFpsDenominator;
}

void TimingService::frameDuration(CMTime* frameDuration) {
    log_.record(HostCall{"frameDuration"});
    if (!refusing() && frameDuration) *frameDuration = timing().frameDuration;
}

// API manager

void HostAPIManager::provide(FxProtocol protocol, std::shared_ptr<FxHostAPI> service) {
    std::lock_guard guard(mutex_);
    services_[protocol] = std::move(service);
}

void HostAPIManager::setAvailability(FxProtocol protocol, ServiceAvailability availability) {
    std::lock_guard guard(mutex_);
    availability_[protocol] = availability;
}

std::shared_ptr<FxHostAPI> HostAPIManager::apiForProtocol(FxProtocol protocol) {
    std::lock_guard guard(mutex_);
    const auto mode = availability_.find(protocol);
    if (mode != availability_.end()) {
        if (mode->second == ServiceAvailability::withheld) return nullptr;
        if (mode->second == ServiceAvailability::wrongKind) return std::make_shared<FxHostAPI>();
    }
    const auto service = services_.find(protocol);
    return service == services_.end() ? nullptr : service->second;
}

}  // namespace kv::host
