// The per-frame state: before the host renders a frame it asks for this
// state, keeps the JSON and hands it back unread to the render call. It turns
// the stored analysis and the settings around the frame's time into the crop
// box, the sample shown, the fade and the toggles.
//
// The host may ask for several frames at once. configLock is taken twice,
// each time alone (to copy the analysis's cached settings out and to put
// them back), Counter's lock once around the rate counters, hashLock inside
// sharedAnalysisData; analysisLock never.
#include "plugin/per_frame_state.h"

#include <cmath>

#include "analysis/bounds_geometry.h"
#include "analysis/motion_detect_context.h"
#include "analysis/reframing.h"
#include "platform/foundation/log.h"
#include "plugin/frame_settings.h"
#include "plugin/kestrelvantage_plugin.h"
#include "plugin/parameter_set.h"

namespace kv {
namespace {

// 3x² − 2x³ over x held within 0...1: a frame outside the effect's time
// range gets no more (and no less) than the whole reframing.
double smoothStep(double x) {
    if (!(x > 0)) x = 0;
    if (x > 1) x = 1;
    return x * x * (3 - 2 * x);
}

void logBoxes(const std::vector<Bounds>& boxes) {
    const auto text = json::encodeText(boxes, [](const std::vector<Bounds>& list) { return encodeJson(list); });
    if (text) NSLog(*text);
}

// Where the frame lies in the effect, as the host's timing service tells.
struct EffectTimeline {
    CMTime start;
    double t = 0;     // seconds since the start
    double rest = 0;  // seconds left
    double clipFraction = 0;
};

// Without a timing service the frame counts as the effect's start, and the
// rate counters are left alone.
EffectTimeline effectTimeline(FxTimingAPI_v4* timing, const FxPlugIn* effect, Counter& counter, CMTime renderTime) {
    EffectTimeline timeline{renderTime};
    if (!timing) return timeline;
    CMTime duration = CMTimeMake(1, 100);
    timing->startTimeForEffect(&timeline.start);
    timing->durationTimeForEffect(&duration);
    const double d = CMTimeGetSeconds(duration);
    timeline.t = secondsBetween(renderTime, timeline.start);
    timeline.clipFraction = d > 0 ? timeline.t / d : 0;
    timeline.rest = d - timeline.t;

    const double numerator = timing->timelineFpsNumeratorForEffect(effect);
    const double denominator = timing->timelineFpsDenominatorForEffect(effect);
    CMTime frameDuration = CMTimeMake(0, 100);
    timing->frameDuration(&frameDuration);
    const double nativeRate = frameDuration.value >= 1 ? 1 / CMTimeGetSeconds(frameDuration) : 0;
    // A rate that is not finite (a host answering a denominator of 0) is not recorded.
    auto locked = counter.lock();
    locked.usage.timelineFps.recordFloat(numerator / denominator);
    locked.usage.nativeFps.recordFloat(nativeRate);
    return timeline;
}

// Encodes the state, logs it when asked, and hands the bytes to the host.
Result<void> deliverState(const PluginState& state, std::optional<NSData>* place, bool logged) {
    const auto text = encodePluginStateText(state);
    if (!text) return text.error();
    if (logged) NSLog("State: " + *text);
    if (place) *place = dataFromText(*text);
    return {};
}

}  // namespace

PluginState emptyPluginState(CMTime renderTime) {
    PluginState state;
    state.motion = MotionBounds{renderTime, {}};
    state.processedBounds = MotionBounds{renderTime, {}};
    state.frameMix = 1.0;
    state.clipTimeFraction = 0.0;
    state.enable = true;
    state.renderMode = RenderMode::Normal;
    state.showBounds = false;
    state.motionBox = CGRectMake(0, 0, 0, 0);
    state.config = startingFrameConfig();
    return state;
}

MotionBounds motionSampleAt(const MotionAnalysis& analysis, CMTime renderTime, double samplePeriod) {
    const double half = 0.5 * samplePeriod;
    const std::vector<MotionBounds>& samples = analysis.motionBounds;
    MotionBounds chosen{renderTime, {}};
    if (!samples.empty()) {
        chosen = samples[lastSampleBefore(samples, renderTime, half)];
    }
    logBoxes(chosen.bounds);
    if (secondsBetween(renderTime, chosen.time) > samplePeriod) return MotionBounds{renderTime, {}};
    return chosen;
}

std::array<double, 3> knotOffsets(double t, double easeTimeSmooth) {
    const double e = easeTimeSmooth;
    if (!(e > 1e-12)) return {t, t, t};
    const double k = std::floor(t / e);
    return {(k - 0.5) * e, (k + 0.5) * e, (k + 1.5) * e};
}

bool isUsableCropBounds(const Bounds& b) {
    const bool allZero = b.minX == 0 && b.minY == 0 && b.maxX == 0 && b.maxY == 0;
    return b.count != 0 && !allZero && b.maxX - b.minX > 0.001 && b.maxY - b.minY > 0.001;
}

// Each edge runs through the three knots: halfway between the values at
// knots 0 and 1 at the first midpoint, halfway between those at knots 1 and 2
// at the next, along a cubic Hermite curve whose end slopes follow how far
// the value moves on either side.
Bounds interpolateCropBox(const std::array<Bounds, 3>& pan, const std::array<Bounds, 3>& zoom,
                          const std::array<double, 3>& knots, double t) {
    for (const auto* results : {&pan, &zoom}) {
        for (const Bounds& b : *results) {
            if (!isUsableCropBounds(b)) return Bounds{};
        }
    }
    const double a = (knots[0] + knots[1]) / 2;
    const double b = (knots[1] + knots[2]) / 2;
    const double span = b - a;
    const bool weighted = span > 1e-12;
    const double u = weighted ? (t - a) / span : 0;

    auto series = [&](const std::array<Bounds, 3>& results, double Bounds::*edge) {
        const double v0 = results[0].*edge, v1 = results[1].*edge, v2 = results[2].*edge;
        double w = 1;
        if (weighted) {
            const double total = std::fabs(v2 - v0);
            if (total > 1e-12) {
                const double m0 = 2 * std::fabs(v1 - v0) / total / span;
                const double m1 = 2 * std::fabs(v2 - v1) / total / span;
                w = (m0 + m1 - 2) * (u * u * u) + (3 - 2 * m0 - m1) * (u * u) + m0 * u;
            } else {
                w = u;
            }
        }
        return 0.5 * (v0 * (1 - w) + v1 * w) + 0.5 * (v1 * (1 - w) + v2 * w);
    };

    Bounds processed{series(pan, &Bounds::minX), series(pan, &Bounds::minY), series(pan, &Bounds::maxX),
                     series(pan, &Bounds::maxY), addCounts(addCounts(pan[0].count, pan[1].count), pan[2].count)};
    const double width = series(zoom, &Bounds::maxX) - series(zoom, &Bounds::minX);
    const double height = series(zoom, &Bounds::maxY) - series(zoom, &Bounds::minY);
    fitInFrame(processed, width, height, 0, 0);
    return processed;
}

double fadeFactor(double t, double rest, double clipFraction, double easeInTime, double easeOutTime) {
    if (t < easeInTime && clipFraction <= 0.5) return smoothStep(t / easeInTime);
    if (rest < easeOutTime) return smoothStep(rest / easeOutTime);
    return 1;
}

bool KestrelvantagePlugIn::pluginState(std::optional<NSData>* pluginState, CMTime renderTime, FxQuality,
                                       NSError* error) {
    const auto made = this->pluginState(pluginState, renderTime);
    return made ? true : reportError(made.error(), error);
}

Result<void> KestrelvantagePlugIn::pluginState(std::optional<NSData>* place, CMTime renderTime) {
    refreshStringParameters();
    if (!hostService<FxParameterRetrievalAPI_v6>()) {
        return SaveError::apiError("Could not fetch FxParameterRetrievalAPI").error();
    }
    const std::shared_ptr<const MotionAnalysis> analysis = sharedAnalysisData();
    const std::optional<std::string> hash = readAnalysisHash();
    if (!hash) {
        NSLog("Could not retrieve data hash; will return empty state");
        return deliverState(emptyPluginState(renderTime), place, false);
    }

    ConfigCacheCopy settings = takeConfigCache(*hash);
    if (analysis && !isSane(*analysis)) {
        NSLog("Data is insane; cannot render");
        return {};
    }
    ConfigCache& cache = settings.cache;
    PluginState state;
    state.config = readFrameConfig(cache, renderTime);
    const FrameConfig& config = state.config;
    const auto timing = hostService<FxTimingAPI_v4>();
    const EffectTimeline timeline = effectTimeline(timing.get(), this, *counter, renderTime);

    if (!analysis) {
        NSLog("Result is nil; can't calculate state");
        state.motion = MotionBounds{renderTime, {}};
        state.processedBounds = MotionBounds{renderTime, {}};
        state.frameMix = 1.0;
        state.clipTimeFraction = 0.0;
    } else {
        const double samplePeriod = analysisFrameSeconds.load() * static_cast<double>(context.analyzeEvery);
        state.motion = motionSampleAt(*analysis, renderTime, samplePeriod);

        const std::array<double, 3> knots = knotOffsets(timeline.t, config.easeTimeSmooth);
        const SettingsProvider frameConfigAt = [this, &cache](CMTime time) { return readFrameConfig(cache, time); };
        std::array<Bounds, 3> pan;
        std::array<Bounds, 3> zoom;
        for (size_t i = 0; i < knots.size(); ++i) {
            pan[i] = computeProcessedBounds(timeline.start, *analysis, frameConfigAt, knots[i],
                                            config.easeTimeMarginPan);
            // Equal margins walk the same way: the zoom pass would repeat the pan pass.
            zoom[i] = config.easeTimeMarginZoom == config.easeTimeMarginPan
                          ? pan[i]
                          : computeProcessedBounds(timeline.start, *analysis, frameConfigAt, knots[i],
                                                   config.easeTimeMarginZoom);
        }
        state.processedBounds = MotionBounds{renderTime, {interpolateCropBox(pan, zoom, knots, timeline.t)}};
        const double fade =
            fadeFactor(timeline.t, timeline.rest, timeline.clipFraction, config.easeInTime, config.easeOutTime);
        state.frameMix = fade * config.mixFrame;
        state.clipTimeFraction = timeline.clipFraction;
    }
    putBackConfigCache(*hash, std::move(settings));

    bool enable = true;
    bool exam = false;
    bool showBounds = false;
    if (const auto retrieval = hostService<FxParameterRetrievalAPI_v6>()) {
        retrieval->getBoolValue(&enable, param::enable, renderTime);
        retrieval->getBoolValue(&exam, param::examMode, renderTime);
        retrieval->getBoolValue(&showBounds, param::showBounds, renderTime);
    }
    state.enable = enable;
    state.renderMode = exam ? RenderMode::Exam : RenderMode::Normal;
    state.showBounds = showBounds;
    state.motionBox = motionBoxRect(config);
    return deliverState(state, place, true);
}

}  // namespace kv
