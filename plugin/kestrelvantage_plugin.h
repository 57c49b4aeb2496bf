#pragma once
// The effect: the plug-in class the host drives, known to it by the plain
// name "KestrelvantagePlugIn". One object serves one effect instance; it
// holds the host's API manager weakly and fetches each host service for one
// operation at a time.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "analysis/frame_config.h"
#include "analysis/motion_detect_context.h"
#include "analysis/motion_types.h"
#include "platform/coremedia/cmtime.h"
#include "platform/foundation/result.h"
#include "platform/fxplug/fx_host_api.h"
#include "platform/fxplug/fx_plugin.h"
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
        std::chrono::system_clock::time_point analysisStartClockTime = std::chrono::system_clock::now();
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

    // Creates the parameter set through the host.
    void addParameters();

private:
    struct ConstructionKey {};

public:
    KestrelvantagePlugIn(ConstructionKey, std::shared_ptr<PROAPIAccessing> apiManager);

private:
    // Settings per analysis hash, then per time: timescale, then value.
    using ConfigCache = std::map<int64_t, std::map<int64_t, FrameConfig>>;

    std::weak_ptr<PROAPIAccessing> _apiManager;
    std::mutex analysisLock;
    std::mutex hashLock;
    std::map<std::string, MotionAnalysis> hashMap;
    std::mutex configLock;
    std::map<std::string, ConfigCache> configMap;
    PluginVars misc;
    MotionDetectContext context;
    std::shared_ptr<Counter> counter;  // the statistics thread holds it weakly
};

}  // namespace kv
