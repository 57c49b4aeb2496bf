// The analysis run: the "Analyze Clip" action and the entries through which
// the host drives a run. Set-up continues the analysis stored in the project;
// every frame goes to the detector; the result is saved every few frames and
// at clean-up, so an interrupted run still leaves a usable analysis.
#include "plugin/analysis_run.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "platform/foundation/double_text.h"
#include "platform/foundation/log.h"
#include "platform/foundation/number_cast.h"
#include "plugin/kestrelvantage_plugin.h"
#include "plugin/parameter_set.h"

namespace kv {
namespace {

// The platform's printed form of an error object.
std::string errorDescription(const NSError& error) {
    return "Error Domain=" + error.domain + " Code=" + std::to_string(error.code) + " \"" +
           error.localizedDescription + "\" UserInfo={NSLocalizedDescription=" + error.localizedDescription + "}";
}

// Room for the samples a run may add; only a hint, so a count too large to
// reserve is logged and the run goes on.
void reserveSamples(std::vector<MotionBounds>& samples, int64_t more) {
    const size_t wanted = samples.size() + static_cast<size_t>(more);
    try {
        samples.reserve(wanted);
    } catch (const std::exception&) {
        NSLog("setupAnalysis(): No room for " + std::to_string(wanted) + " samples reserved");
    }
}

}  // namespace

std::string_view analysisStateName(FxAnalysisState state) {
    switch (state) {
        case kFxAnalysisState_NotAnalyzing: return "not_analyzing";
        case kFxAnalysisState_AnalysisRequested: return "requested";
        case kFxAnalysisState_AnalysisStarted: return "started";
        case kFxAnalysisState_AnalysisCompleted: return "completed";
        case kFxAnalysisState_AnalysisInterrupted: return "interrupted";
        default: return "?";
    }
}

Result<int64_t> analysisFrameCount(CMTimeRange timeRange, CMTime frameDuration) {
    const double frameSeconds = CMTimeGetSeconds(frameDuration);
    if (!(frameSeconds > 0)) return Error{"The frame duration of the analysis is not a positive time."};
    const double frames = std::ceil(CMTimeGetSeconds(timeRange.duration) / frameSeconds);
    if (!(frames >= 0 && fitsInInt64(frames))) {
        return Error{"The analysis range does not hold a countable number of frames."};
    }
    return static_cast<int64_t>(frames);
}

int64_t partialSaveInterval(int64_t frameCount) { return frameCount < 3000 ? 30 : frameCount / 100; }

std::vector<MotionBounds> withEarlierSamplesAfter(const std::vector<MotionBounds>& found,
                                                  const std::vector<MotionBounds>& earlier,
                                                  std::optional<CMTime> reached) {
    auto next = earlier.begin();
    if (reached) {
        next = std::find_if(earlier.begin(), earlier.end(),
                            [&](const MotionBounds& s) { return CMTimeCompare(s.time, *reached) > 0; });
    }
    std::vector<MotionBounds> merged;
    merged.reserve(found.size() + size_t(earlier.end() - next));
    for (const MotionBounds& sample : found) {
        for (; next != earlier.end() && CMTimeCompare(next->time, sample.time) <= 0; ++next) {
            if (CMTimeCompare(next->time, sample.time) < 0) merged.push_back(*next);
        }
        merged.push_back(sample);
    }
    merged.insert(merged.end(), next, earlier.end());
    return merged;
}

std::vector<MotionBounds> KestrelvantagePlugIn::samplesToSave() const {
    // A run that has handed all its frames to the detector has replaced
    // the range's samples; before its first frame it has reached nothing.
    if (samplesInRange.empty() || context.nextAnalyzedFrameNum >= misc.frameCount) return context.result.motionBounds;
    const auto reached = context.nextAnalyzedFrameNum > 0 ? std::optional(context.currentTime) : std::nullopt;
    return withEarlierSamplesAfter(context.result.motionBounds, samplesInRange, reached);
}

bool KestrelvantagePlugIn::performSelector(std::string_view selector) {
    if (selector != kStartAnalysisSelector) return false;
    startAnalysis();
    return true;
}

void KestrelvantagePlugIn::startAnalysis() {
    const auto api = hostService<FxAnalysisAPI_v2>();
    if (!api) {
        {
            auto locked = counter->lock();
            locked.usage.analyzeAction.countEvent();
            locked.usage.analyzeAction.recordString("start_noapi");
        }
        NSLog("Unable to retrieve analysis API");
        return;
    }
    NSLog("startAnalysis()");
    const FxAnalysisState state = api->analysisStateForEffect();
    const std::string_view stateName = analysisStateName(state);
    NSLog("Current state: " + std::to_string(state) + " (" + std::string(stateName) + ")");

    auto recordOutcome = [&](std::string_view outcome, const char* debugMessage = nullptr) {
        auto locked = counter->lock();
        Counter::Feature& action = locked.usage.analyzeAction;
        action.countEvent();
        action.recordString(stateName);
        action.recordString(outcome);
        if (debugMessage) locked.debug.debugMessages.emplace_back(debugMessage);
    };

    if (state == kFxAnalysisState_AnalysisRequested || state == kFxAnalysisState_AnalysisStarted) {
        recordOutcome("start_wrongstate");
        NSLog("Not in the right state to request analysis");
        return;
    }
    NSError error;
    if (api->startForwardAnalysis(kFxAnalysisLocation_CPU, &error)) {
        recordOutcome("start_ok");
    } else {
        recordOutcome("start_err", "Exception while trying to start analysis");
        NSLog("Unable to start analysis due to error: " + errorDescription(error));
    }
}

bool KestrelvantagePlugIn::desiredAnalysisTimeRange(CMTimeRange* desiredRange, CMTimeRange inputTimeRange,
                                                    NSError*) {
    if (desiredRange) *desiredRange = inputTimeRange;
    return true;
}

bool KestrelvantagePlugIn::setupAnalysisForTimeRange(CMTimeRange timeRange, CMTime frameDuration, NSError* error) {
    const auto setUp = setupAnalysis(timeRange, frameDuration);
    return setUp ? true : reportError(setUp.error(), error);
}

// A range that holds no countable number of frames is refused before
// anything changes: the detector and the bookkeeping stay as they were.
Result<void> KestrelvantagePlugIn::setupAnalysis(CMTimeRange timeRange, CMTime frameDuration) {
    std::lock_guard guard(analysisLock);
    NSLog("setupAnalysis()");
    const auto frameCount = analysisFrameCount(timeRange, frameDuration);
    if (!frameCount) {
        NSLog("setupAnalysis(): " + frameCount.error().message);
        return frameCount.error();
    }
    const int64_t n = *frameCount;
    misc.startFrameTime = timeRange.start;
    misc.analysisFrameDuration = frameDuration;
    analysisFrameSeconds = CMTimeGetSeconds(frameDuration);

    // The run continues the stored analysis and replaces its samples inside
    // the range, as it reaches them.
    auto stored = readAnalysisData();
    context.cleanup();
    if (stored) context.result = std::move(*stored);
    const CMTime end = CMTimeRangeGetEnd(timeRange);
    samplesInRange.clear();
    for (const MotionBounds& sample : context.result.motionBounds) {
        if (CMTimeCompare(sample.time, timeRange.start) >= 0 && CMTimeCompare(sample.time, end) < 0) {
            samplesInRange.push_back(sample);
        }
    }
    removeResults(context.result, timeRange.start, end);
    context.prepareAnalysis(timeRange);
    context.result.frameDuration = frameDuration;
    reserveSamples(context.result.motionBounds, n / MotionDetectContext::nFrames + 1);

    misc.frameCount = n;
    misc.saveEvery = partialSaveInterval(n);
    misc.analysisStartFrameNumber = -1;
    NSLog("Done setupAnalysis()");
    return {};
}

bool KestrelvantagePlugIn::analyzeFrame(const FxImageTile* frame, CMTime time, NSError*) {
    analyzeFrame(frame, time);
    return true;
}

void KestrelvantagePlugIn::analyzeFrame(const FxImageTile* frame, CMTime time) {
    // The speed is the average since the run's first frame.
    const NSDate now = NSDate::date();
    int64_t frames = 0;
    double seconds = 0;
    double fps = 0;
    if (misc.analysisStartFrameNumber < 0) {
        misc.analysisStartClockTime = now;
        misc.analysisStartFrameNumber = context.nextAnalyzedFrameNum;
    } else {
        seconds = now.timeIntervalSinceDate(misc.analysisStartClockTime);
        frames = context.nextAnalyzedFrameNum - misc.analysisStartFrameNumber;
        fps = seconds > 1e-12 ? static_cast<double>(frames) / seconds : 0;
    }
    NSLog("Analyze frame " + std::to_string(context.nextAnalyzedFrameNum) + " of " + std::to_string(misc.frameCount) +
          ", " + doubleText(fps) + " fps, " + std::to_string(frames) + " frame(/s) in " + doubleText(seconds) + " s");

    // A tile without a surface is a frame the host could not supply.
    IOSurface* surface = frame ? frame->ioSurface().get() : nullptr;
    if (!surface) return;
    if (surface->pixelFormat() != kCVPixelFormatType_128RGBAFloat) {
        NSLog("Unsupported pixel format received from the host application");
        counter->lock().debug.debugMessages.push_back("Unsupported pixel format: " +
                                                      std::to_string(surface->pixelFormat()));
        return;
    }
    {
        auto locked = counter->lock();
        locked.performance.analysisSpeedFps.recordFloat(static_cast<float>(fps));
        locked.usage.analysisResolution.recordString(std::to_string(surface->width()) + "x" +
                                                     std::to_string(surface->height()));
        locked.usage.analyzedFrames.countEvent();
    }

    // Rows are copied at the surface's stride: a surface may pad its rows.
    {
        const IOSurfaceLock lock(*surface, IOSurfaceLock::Access::read);
        context.addFrame(time, surface->width(), surface->height(), static_cast<const float*>(surface->baseAddress()),
                         surface->bytesPerRow());
    }

    if (misc.saveEvery > 0 && context.nextAnalyzedFrameNum % misc.saveEvery == 0) {
        std::lock_guard guard(analysisLock);
        if (const auto saved = saveAnalysis(); !saved) {
            const std::string count = std::to_string(context.nextAnalyzedFrameNum);
            NSLog("Unable to save partial analysis data after " + count + " frames.");
            counter->lock().debug.debugMessages.push_back("Unable to save partial analysis data after " + count +
                                                          " frames");
        }
    }
}

// On a failed save the detector keeps its frames and samples until the next
// set-up, and the host learns of the failure.
bool KestrelvantagePlugIn::cleanupAnalysis(NSError* error) {
    std::lock_guard guard(analysisLock);
    if (const auto saved = saveAnalysis(); !saved) return reportError(saved.error(), error);
    context.cleanup();
    samplesInRange.clear();
    return true;
}

}  // namespace kv
