#include "host/effect_instance.h"

#include "platform/fxplug/fx_principal.h"

namespace kv::host {

EffectInstance::EffectInstance()
    : creation_(std::make_shared<ParameterCreationService>(document_, calls_)),
      retrieval_(std::make_shared<ParameterRetrievalService>(document_, calls_)),
      customSetting_(std::make_shared<CustomParameterSettingService>(document_, calls_)),
      stringSetting_(std::make_shared<StringParameterSettingService>(document_, calls_)),
      analysis_(std::make_shared<AnalysisService>(document_, calls_)),
      timing_(std::make_shared<TimingService>(document_, calls_)),
      apiManager_(std::make_shared<HostAPIManager>()) {
    apiManager_->provide(FxProtocol::FxParameterCreationAPI_v5, creation_);
    apiManager_->provide(FxProtocol::FxParameterRetrievalAPI_v6, retrieval_);
    apiManager_->provide(FxProtocol::FxParameterSettingAPI_v5, customSetting_);
    apiManager_->provide(FxProtocol::FxParameterSettingAPI_v6, stringSetting_);
    apiManager_->provide(FxProtocol::FxAnalysisAPI_v2, analysis_);
    apiManager_->provide(FxProtocol::FxTimingAPI_v4, timing_);
}

Result<std::unique_ptr<EffectInstance>> EffectInstance::load(std::string_view className) {
    std::unique_ptr<EffectInstance> instance(new EffectInstance());
    if (!FxPrincipal::isPlugInClassRegistered(className)) {
        return Error{"No plug-in class is named " + std::string(className) + "."};
    }
    instance->plugIn_ = FxPrincipal::createPlugIn(className, instance->apiManager_);
    if (!instance->plugIn_) return Error{"The plug-in class " + std::string(className) + " made no object."};
    return instance;
}

// The effect goes first, while the services it might reach still exist.
EffectInstance::~EffectInstance() { releaseEffect(); }

FxTileableEffect* EffectInstance::effect() const { return dynamic_cast<FxTileableEffect*>(plugIn_.get()); }

FxAnalyzer* EffectInstance::analyzer() const { return dynamic_cast<FxAnalyzer*>(plugIn_.get()); }

void EffectInstance::releaseEffect() { plugIn_.reset(); }

void EffectInstance::releaseAPIManager() { apiManager_.reset(); }

bool EffectInstance::pressButton(uint32_t parameterID) {
    const auto button = document_.parameter(parameterID);
    if (!plugIn_ || !button || button->kind != ParameterKind::pushButton) return false;
    return plugIn_->performSelector(button->selector.name());
}

AnalysisRun EffectInstance::runRequestedAnalysis(const ClipSource& clip, const AnalysisRunOptions& options) {
    FxAnalyzer* effect = analyzer();
    if (!effect) return AnalysisRun{};
    return analysis_->runRequested(*effect, clip, options);
}

}  // namespace kv::host
