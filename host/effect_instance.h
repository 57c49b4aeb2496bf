#pragma once
// One instance of an effect in the stand-in host: the effect object, created
// by its class name through the principal's registry, with its own document,
// host services, API manager and call log. The host reaches the effect only
// through the plug-in protocols; tests drive the effect through this class
// and observe it through the document, the call log and the system log.
#include <memory>
#include <string>
#include <string_view>

#include "host/analysis_service.h"
#include "host/host_services.h"
#include "host/parameter_document.h"
#include "platform/foundation/result.h"
#include "platform/fxplug/fx_plugin.h"

namespace kv::host {

class EffectInstance {
public:
    // A new instance with every service provided; an error when no class has
    // that name or the class made no object.
    static Result<std::unique_ptr<EffectInstance>> load(std::string_view className);

    ~EffectInstance();
    EffectInstance(const EffectInstance&) = delete;
    EffectInstance& operator=(const EffectInstance&) = delete;

    // The effect as one of its protocols; null when it does not adopt it or
    // the host has let go of it.
    FxTileableEffect* effect() const;
    FxAnalyzer* analyzer() const;

    // The host lets go of the effect object, or of the API manager it gave it.
    void releaseEffect();
    void releaseAPIManager();

    // Presses push button `parameterID`: runs its selector on the effect. NO
    // when there is no such button or the effect does not respond to it.
    bool pressButton(uint32_t parameterID);

    // Drives the run the effect requested, over `clip`.
    AnalysisRun runRequestedAnalysis(const ClipSource& clip, const AnalysisRunOptions& options = {});

    ParameterDocument& document() { return document_; }
    CallLog& calls() { return calls_; }
    HostAPIManager& apiManager() { return *apiManager_; }  // until releaseAPIManager
    ParameterCreationService& creation() { return *creation_; }
    ParameterRetrievalService& retrieval() { return *retrieval_; }
    CustomParameterSettingService& customSetting() { return *customSetting_; }
    StringParameterSettingService& stringSetting() { return *stringSetting_; }
    AnalysisService& analysis() { return *analysis_; }
    TimingService& timing() { return *timing_; }

private:
    EffectInstance();

    ParameterDocument document_;
    CallLog calls_;
    std::shared_ptr<ParameterCreationService> creation_;
    std::shared_ptr<ParameterRetrievalService> retrieval_;
    std::shared_ptr<CustomParameterSettingService> customSetting_;
    std::shared_ptr<StringParameterSettingService> stringSetting_;
    std::shared_ptr<AnalysisService> analysis_;
    std::shared_ptr<TimingService> timing_;
    std::shared_ptr<HostAPIManager> apiManager_;
    std::shared_ptr<FxPlugIn> plugIn_;
};

}  // namespace kv::host
