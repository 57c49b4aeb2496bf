#include "host/analysis_service.h"

#include <optional>

namespace kv::host {
namespace {

constexpr const char* kHostErrorDomain = "FxHostErrorDomain";
// More frames than any clip has; a range that asks for more is refused.
constexpr int64_t kMaxFrames = 100'000'000;

NSError hostError(int64_t code, std::string text) { return NSError{kHostErrorDomain, code, std::move(text)}; }

// The frames a host shows in a range: the exact ceiling of duration ÷ frame
// duration, so that no frame is driven twice or left out by rounding.
std::optional<int64_t> wholeFramesIn(CMTime duration, CMTime frameDuration) {
    if (!CMTimeIsNumeric(duration) || !CMTimeIsNumeric(frameDuration) || frameDuration.value <= 0 ||
        duration.value < 0) {
        return std::nullopt;
    }
    using Int128 = __int128;
    const Int128 num = Int128(duration.value) * frameDuration.timescale;
    const Int128 den = Int128(duration.timescale) * frameDuration.value;
    const Int128 frames = (num + den - 1) / den;
    if (frames > kMaxFrames) return std::nullopt;
    return static_cast<int64_t>(frames);
}

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

    const CMTimeRange input = clipTimeRange(format);
    CMTimeRange desired = input;
    NSError error;
    bool setUp = false;
    if (!effect.desiredAnalysisTimeRange(&desired, input, &(error = NSError{}))) {
        fail(error);
    } else {
        run.desiredRange = desired;
        setUp = effect.setupAnalysisForTimeRange(desired, format.frameDuration, &(error = NSError{}));
        if (!setUp) fail(error);
    }

    if (setUp) {
        const std::optional<int64_t> frames = wholeFramesIn(desired.duration, format.frameDuration);
        if (!frames) fail(hostError(3, "The analysis range holds no whole number of frames."));
        const int64_t count = interrupted ? 0 : *frames;
        CMTime time = desired.start;
        for (int64_t i = 0; i < count; ++i, time = CMTimeAdd(time, format.frameDuration)) {
            if (options.interruptAfterFrames && i >= *options.interruptAfterFrames) {
                interrupted = true;
                break;
            }
            const int64_t index = clipFrameIndexAt(format, time);
            std::shared_ptr<const FxImageTile> tile;
            if (index >= 0) tile = makeFullFrameTile(clip.frameSurface(index, options.pixelFormat));
            run.frameTimes.push_back(time);
            if (!effect.analyzeFrame(tile.get(), time, &(error = NSError{}))) {
                fail(error);
                break;
            }
            if (options.afterFrame && !options.afterFrame(i + 1, count)) {
                interrupted = true;
                break;
            }
        }
        if (!effect.cleanupAnalysis(&(error = NSError{}))) fail(error);
    }

    std::lock_guard guard(mutex_);
    state_ = interrupted ? kFxAnalysisState_AnalysisInterrupted : kFxAnalysisState_AnalysisCompleted;
    run.finalState = state_;
    return run;
}

}  // namespace kv::host
