#pragma once
// The effect: the plug-in class the host drives, known to it by the plain
// name "KestrelvantagePlugIn". One object serves one effect instance; it
// holds the host's API manager weakly and fetches each host service for one
// operation at a time.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/frame_config.h"
#include "analysis/motion_detect_context.h"
#include "analysis/motion_types.h"
#include "platform/coremedia/cmtime.h"
#include "platform/foundation/date.h"
#include "platform/foundation/result.h"
#include "platform/fxplug/fx_host_api.h"
#include "platform/fxplug/fx_plugin.h"
#include "plugin/stored_analysis.h"
#include "stats/usage_counter.h"

namespace kv {

inline constexpr const char* kPlugInClassName = "KestrelvantagePlugIn";

class KestrelvantagePlugIn final : public FxTileableEffect, public FxAnalyzer {
public:
    // Bookkeeping of the analysis run.
    struct PluginVars {
        CMTime startFrameTime = CMTimeMake(0, 1000);
        CMTime analysisFrameDuration = CMTimeMake(30, 1000);
        int64_t frameCount = 0;
        int64_t saveEvery = 10;  // replaced at every set-up
        NSDate analysisStartClockTime = NSDate::date();
        int64_t analysisStartFrameNumber = 0;

        friend bool operator==(const PluginVars&, const PluginVars&) = default;
    };

    // The effect's own errors, each with its message.
    struct SaveError {
        enum class Kind { apiError, paramData };
        Kind kind;
        std::string message;

        static SaveError apiError(std::string message) { return {Kind::apiError, std::move(message)}; }
        static SaveError paramData(std::string message) { return {Kind::paramData, std::move(message)}; }
        Error error() const { return Error{message}; }
    };

    // A new effect object for the host's API manager; none without one.
    static std::shared_ptr<KestrelvantagePlugIn> initWithAPIManager(std::shared_ptr<PROAPIAccessing> apiManager);
    // An effect object exists only with an API manager: always none.
    static std::shared_ptr<KestrelvantagePlugIn> init();

    ~KestrelvantagePlugIn() override;

    // Host entries.
    bool properties(NSDictionary* properties, NSError* error) override;
    bool addParametersWithError(NSError* error) override;
    FxClass classForCustomParameterID(uint32_t parameterID) override;
    // The "Analyze Clip" button's action is "startAnalysis".
    bool performSelector(std::string_view selector) override;

    // Analysis entries: the host calls them one after another for a run.
    bool desiredAnalysisTimeRange(CMTimeRange* desiredRange, CMTimeRange inputTimeRange, NSError* error) override;
    bool setupAnalysisForTimeRange(CMTimeRange timeRange, CMTime frameDuration, NSError* error) override;
    bool analyzeFrame(const FxImageTile* frame, CMTime time, NSError* error) override;
    bool cleanupAnalysis(NSError* error) override;

    // Creates the parameter set through the host.
    void addParameters();

    // The analysis run. startAnalysis asks the host to run one; the host then
    // sets it up, hands in its frames and cleans it up.
    void startAnalysis();
    Result<void> setupAnalysis(CMTimeRange timeRange, CMTime frameDuration);
    void analyzeFrame(const FxImageTile* frame, CMTime time);

    // The stored analysis, kept in the custom parameters "Analysis Data" and
    // "Analysis Hash". Callers of saveAnalysis hold analysisLock; the readers
    // may be called from any thread and give none on every failure.
    Result<void> writeAnalysisParameters(uint32_t parameterID, AnalysisKey key, const NSData& value);
    Result<void> saveAnalysis();
    // What a save stores: the detector's result, with the stored samples
    // of the range that the run has not reached yet.
    std::vector<MotionBounds> samplesToSave() const;
    std::optional<std::string> readAnalysisHash();
    std::optional<MotionAnalysis> readAnalysisData();
    // The same analysis, shared with the cache rather than copied: what the
    // per-frame state reads on every frame.
    std::shared_ptr<const MotionAnalysis> sharedAnalysisData();

    // Settings cached for one analysis: per timescale, then per time value.
    using ConfigCache = std::map<int64_t, std::map<int64_t, FrameConfig>>;

    // The framing settings at `time`: from `cache` when it holds them, else
    // read from the host and kept in `cache`. Takes no lock: the cache is the
    // caller's own copy.
    FrameConfig readFrameConfig(ConfigCache& cache, CMTime time);
    // Empties the cached settings of the analysis `hash`, or of every
    // analysis when none is given.
    void clearConfigCache(const std::optional<std::string>& hash);
    // Any change empties the cached settings of the current analysis.
    bool parameterChanged(uint32_t parameterID, CMTime time, NSError* error) override;
    // Brings the "Plugin version" parameter up to the running version.
    void refreshStringParameters();

    // The state of the frame at `renderTime`, as JSON in `pluginState`.
    bool pluginState(std::optional<NSData>* pluginState, CMTime renderTime, FxQuality quality,
                     NSError* error) override;
    Result<void> pluginState(std::optional<NSData>* place, CMTime renderTime);

    // Rendering: the output rectangle, the source tile of a destination tile,
    // and the render of one frame from the state data of the state call.
    bool destinationImageRect(FxRect* destinationImageRect, const FxImageTiles& sourceImages,
                              const FxImageTile& destinationImage, const NSData* pluginState, CMTime renderTime,
                              NSError* error) override;
    bool sourceTileRect(FxRect* sourceTileRect, uint32_t sourceImageIndex, const FxImageTiles& sourceImages,
                        FxRect destinationTileRect, const FxImageTile& destinationImage, const NSData* pluginState,
                        CMTime renderTime, NSError* error) override;
    bool renderDestinationImage(const FxImageTile& destinationImage, const FxImageTiles& sourceImages,
                                const NSData* pluginState, CMTime renderTime, NSError* error) override;
    Result<void> renderDestinationImage(const FxImageTile& destinationImage, const FxImageTiles& sourceImages,
                                        const NSData* pluginState, CMTime renderTime);

    // The usage counters, which the statistics thread reads.
    std::weak_ptr<Counter> usageCounter() const { return counter; }

private:
    struct ConstructionKey {};

public:
    KestrelvantagePlugIn(ConstructionKey, std::shared_ptr<PROAPIAccessing> apiManager);

private:
    // The host's service for API's protocol for one operation; none when the
    // manager is gone or offers no such service.
    template <class API>
    std::shared_ptr<API> hostService() const {
        const auto manager = _apiManager.lock();
        return manager ? fxAPI<API>(*manager) : nullptr;
    }

    // A per-frame state call works on its own copy of an analysis's cached
    // settings and puts it back when done. The put-back is dropped when
    // cached settings were dropped meanwhile, so a change of the parameters
    // is never undone by a frame that read them before it.
    struct ConfigCacheCopy {
        ConfigCache cache;
        uint64_t generation = 0;
    };
    ConfigCacheCopy takeConfigCache(const std::string& hash);
    void putBackConfigCache(const std::string& hash, ConfigCacheCopy copy);

    std::weak_ptr<PROAPIAccessing> _apiManager;
    std::mutex analysisLock;
    std::mutex hashLock;
    // Entries are never changed once stored, so readers may share them.
    std::map<std::string, std::shared_ptr<const MotionAnalysis>> hashMap;
    std::mutex configLock;
    std::map<std::string, ConfigCache> configMap;
    uint64_t configGeneration = 0;  // under configLock; counts the drops of cached settings
    PluginVars misc;
    MotionDetectContext context;
    // Under analysisLock: the stored samples inside the range of the run,
    // which every save keeps for the part of the range the run has not yet
    // reached, so that an interrupted run loses none of them.
    std::vector<MotionBounds> samplesInRange;
    // Seconds of misc.analysisFrameDuration, which the per-frame state reads
    // without analysisLock while a run may be setting it.
    std::atomic<double> analysisFrameSeconds;
    std::shared_ptr<Counter> counter;  // the statistics thread holds it weakly
};

}  // namespace kv
