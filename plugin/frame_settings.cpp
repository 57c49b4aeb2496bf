// The framing settings read from the effect's parameters, their cache per
// analysis and time, and the refresh of the "Plugin version" parameter.
// configMap is touched only under configLock, and never across a host call.
#include "plugin/frame_settings.h"

#include "platform/foundation/log.h"
#include "plugin/kestrelvantage_plugin.h"
#include "plugin/parameter_set.h"
#include "stats/bundle_version.h"

namespace kv {

const FloatSetting kFloatSettings[kFloatSettingCount] = {
    {&FrameConfig::minScale, param::minScale},
    {&FrameConfig::maxScale, param::maxScale},
    {&FrameConfig::aspectRatioWidth, param::aspectRatioWidth},
    {&FrameConfig::aspectRatioHeight, param::aspectRatioHeight},
    {&FrameConfig::sensorSize, param::sensorSize},
    {&FrameConfig::focalLength, param::focalLength},
    {&FrameConfig::paddingTop, param::paddingTop},
    {&FrameConfig::paddingBottom, param::paddingBottom},
    {&FrameConfig::paddingLeft, param::paddingLeft},
    {&FrameConfig::paddingRight, param::paddingRight},
    {&FrameConfig::easeTimeSmooth, param::easeTimeSmooth},
    {&FrameConfig::easeTimeMarginPan, param::easeTimeMarginPan},
    {&FrameConfig::easeTimeMarginZoom, param::easeTimeMarginZoom},
    {&FrameConfig::easeInTime, param::easeInTime},
    {&FrameConfig::easeOutTime, param::easeOutTime},
    {&FrameConfig::minMotionArea, param::minMotionArea},
    {&FrameConfig::maxMotionArea, param::maxMotionArea},
    {&FrameConfig::motionBoxLeft, param::motionBoxLeft},
    {&FrameConfig::motionBoxTop, param::motionBoxTop},
    {&FrameConfig::motionBoxRight, param::motionBoxRight},
    {&FrameConfig::motionBoxBottom, param::motionBoxBottom},
    {&FrameConfig::brightness, param::brightness},
    {&FrameConfig::mixFrame, param::mixFrame},
};

// Times are keyed by timescale and value only: flags and epoch do not count.
// A host that withdrew its retrieval service since the caller fetched it
// gets the starting settings, which are not cached, so the next frame asks
// again.
FrameConfig KestrelvantagePlugIn::readFrameConfig(ConfigCache& cache, CMTime time) {
    const int64_t timescale = time.timescale;
    if (const auto inner = cache.find(timescale); inner != cache.end()) {
        if (const auto hit = inner->second.find(time.value); hit != inner->second.end()) return hit->second;
    }

    FrameConfig config = startingFrameConfig();
    const auto api = hostService<FxParameterRetrievalAPI_v6>();
    if (!api) return config;
    // An unanswered read leaves the starting value.
    for (const FloatSetting& setting : kFloatSettings) {
        api->getFloatValue(&(config.*setting.field), setting.parameterID, time);
    }

    auto& inner = cache[timescale];
    if (inner.size() >= kMaxCachedSettingsPerTimescale) inner.clear();
    inner.emplace(time.value, config);
    return config;
}

void KestrelvantagePlugIn::clearConfigCache(const std::optional<std::string>& hash) {
    std::lock_guard guard(configLock);
    ++configGeneration;
    if (!hash) {
        configMap.clear();
    } else if (const auto entry = configMap.find(*hash); entry != configMap.end()) {
        entry->second.clear();
    }
}

KestrelvantagePlugIn::ConfigCacheCopy KestrelvantagePlugIn::takeConfigCache(const std::string& hash) {
    std::lock_guard guard(configLock);
    const auto entry = configMap.find(hash);
    return ConfigCacheCopy{entry == configMap.end() ? ConfigCache{} : entry->second, configGeneration};
}

void KestrelvantagePlugIn::putBackConfigCache(const std::string& hash, ConfigCacheCopy copy) {
    std::lock_guard guard(configLock);
    if (copy.generation != configGeneration) return;
    configMap.insert_or_assign(hash, std::move(copy.cache));
}

// Whatever changed, the settings of the current analysis are read afresh;
// without a stored analysis, those of every analysis.
bool KestrelvantagePlugIn::parameterChanged(uint32_t, CMTime, NSError*) {
    clearConfigCache(readAnalysisHash());
    NSLog("Parameter changed");
    return true;
}

void KestrelvantagePlugIn::refreshStringParameters() {
    const auto retrieval = hostService<FxParameterRetrievalAPI_v6>();
    if (!retrieval) return;
    const auto setting = hostService<FxParameterSettingAPI_v6>();
    if (!setting) return;
    const std::string current = bundleShortVersion();
    std::string stored;
    retrieval->getStringParameterValue(&stored, param::pluginVersion);
    NSLog("App version " + current + " vs " + stored);
    if (stored != current) setting->setStringParameterValue(current, param::pluginVersion);
}

}  // namespace kv
