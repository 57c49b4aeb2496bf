#include "host/analysis_service.h"

#include <optional>

namespace kv::host {
namespace {

constexpr const char* kHostErrorDomain = "FxHostErrorDomain";

NSError hostError(int64_t code, std::string text) { return NSError{kHostErrorDomain, code, std::move(text)}; }

}  // namespace

FxAnalysisState AnalysisService::analysisStateForEffect() {
    log_.record(HostCall{"analysisStateForEffect"});
    std::lock_guard guard(mutex_);
    return state_;
}

bool AnalysisService::startForwardAnalysis(FxAnalysisLocation location, NSError* error) {
    log_.record(HostCall{"startForwardAnalysis"});
    std::lock_guard guard(mutex_);
    std::optional<NSError> refusal;
    if (refusing()) {
        refusal = hostError(1, "The host cannot analyze this clip now.");
    } else if (state_ == kFxAnalysisState_AnalysisRequested || state_ == kFxAnalysisState_AnalysisStarted) {
        refusal = hostError(2, "An analysis is already requested or running.");
    }
    if (refusal) {
        if (error) *error = *refusal;
        return false;
    }
    state_ = kFxAnalysisState_AnalysisRequested;
    location_ = location;
    return true;
}

void AnalysisService::setState(FxAnalysisState state) {
    std::lock_guard guard(mutex_);
    state_ = state;
}

std::optional<FxAnalysisLocation> AnalysisService::requestedLocation() const {
    std::lock_guard guard(mutex_);
    return location_;
}

AnalysisRun AnalysisService::runRequested(FxAnalyzer& effect, const ClipSource& clip,
                                          const AnalysisRunOptions& options) {
    AnalysisRun run;
    {
        std::lock_guard guard(mutex_);
        if (state_ != kFxAnalysisState_AnalysisRequested) {
            run.finalState = state_;
            return run;
        }
        state_ = kFxAnalysisState_AnalysisStarted;
    }
    run.started = true;
    const ClipFormat format = clip.format();
    bool interrupted = false;
    auto fail = [&](NSError error) {
        if (!run.error) run.error = std::move(error);
        interrupted = true;
    };

    const CMTimeRange input = clip.timeRange();
    CMTimeRange desired = input;
    NSError error;
    std::unique_ptr<FrameSequence> frames;
    bool setUp = false;
    if (!effect.desiredAnalysisTimeRange(&desired, input, &(error = NSError{}))) {
        fail(error);
    } else {
        run.desiredRange = desired;
        // The clip makes ready to give its frames before the effect sets up,
        // so a clip that cannot give them leaves the effect untouched.
        auto made = clip.frames(desired, options.pixelFormat);
        if (!made) {
            run.sourceError = made.error();
            fail(hostError(3, made.error().message));
        } else {
            frames = std::move(made).value();
            setUp = effect.setupAnalysisForTimeRange(desired, format.frameDuration, &(error = NSError{}));
            if (!setUp) fail(error);
        }
    }

    if (setUp) {
        const int64_t count = frames->count();
        for (int64_t i = 0;; ++i) {
            if (options.interruptAfterFrames && i >= *options.interruptAfterFrames) {
                interrupted = true;
                break;
            }
            auto next = frames->next();
            if (!next) {
                run.sourceError = next.error();
                interrupted = true;
                break;
            }
            if (!*next) break;
            // A frame without a picture is handed over without a tile.
            std::shared_ptr<const FxImageTile> tile;
            if ((*next)->surface) {
                tile = makeFullFrameTile(std::move((*next)->surface));
            } else {
                ++run.absentFrames;
            }
            const CMTime time = (*next)->time;
            run.frameTimes.push_back(time);
            const bool analysed = effect.analyzeFrame(tile.get(), time, &(error = NSError{}));
            tile.reset();  // the surface goes back to the clip
            if (!analysed) {
                fail(error);
                break;
            }
            if (options.afterFrame && !options.afterFrame(i + 1, count)) {
                interrupted = true;
                break;
            }
        }
        frames.reset();
        if (!effect.cleanupAnalysis(&(error = NSError{}))) fail(error);
    }

    std::lock_guard guard(mutex_);
    state_ = interrupted ? kFxAnalysisState_AnalysisInterrupted : kFxAnalysisState_AnalysisCompleted;
    run.finalState = state_;
    return run;
}

}  // namespace kv::host
