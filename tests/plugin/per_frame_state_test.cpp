#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "analysis/bounds_geometry.h"
#include "analysis/reframing.h"
#include "plugin/per_frame_state.h"
#include "state_test_support.h"

namespace kv {
namespace {

using test::box;
using PluginStateTest = test::PluginStateTest;

bool startsWith(const std::string& line, std::string_view prefix) { return line.rfind(prefix, 0) == 0; }

// The lines of the log that begin with `prefix`.
std::vector<std::string> linesStartingWith(const LogCapture& log, std::string_view prefix) {
    std::vector<std::string> out;
    for (const auto& line : log.lines()) {
        if (startsWith(line, prefix)) out.push_back(line);
    }
    return out;
}

// How many lines of the log are exactly `text`.
size_t linesEqualTo(const LogCapture& log, const std::string& text) {
    const auto lines = log.lines();
    return size_t(std::count(lines.begin(), lines.end(), text));
}

TEST_F(PluginStateTest, WithoutAStoredHashTheEmptyStateIsGiven) {
    // Nothing of the document is read: not the settings, not the toggles.
    ASSERT_TRUE(instance->document().setFloatValue(param::brightness, 0.5));
    ASSERT_TRUE(instance->document().setBoolValue(param::examMode, true));
    LogCapture log;
    const CMTime at = CMTimeMake(7, 30);
    const PluginState got = state(at);

    PluginState expected;
    expected.motion = MotionBounds{at, {}};
    expected.processedBounds = MotionBounds{at, {}};
    expected.frameMix = 1.0;
    expected.clipTimeFraction = 0.0;
    expected.enable = true;
    expected.renderMode = RenderMode::Normal;
    expected.showBounds = false;
    expected.motionBox = CGRectMake(0, 0, 0, 0);
    expected.config = test::startingSettings();
    EXPECT_EQ(got, expected);
    EXPECT_EQ(log.count("Could not retrieve data hash; will return empty state"), 1u);
    EXPECT_TRUE(linesStartingWith(log, "State: ").empty());
    EXPECT_EQ(floatReads(), 0u);
    EXPECT_EQ(instance->calls().count("getBoolValue"), 0u);
    EXPECT_EQ(instance->calls().count("startTimeForEffect"), 0u);
}

TEST_F(PluginStateTest, FailsWithoutTheRetrievalService) {
    LogCapture quiet;
    for (auto availability : {host::ServiceAvailability::withheld, host::ServiceAvailability::wrongKind}) {
        instance->apiManager().setAvailability(FxProtocol::FxParameterRetrievalAPI_v6, availability);
        const test::StateAnswer answer = requestState(CMTimeMake(0, 30));
        EXPECT_FALSE(answer.answered);
        EXPECT_EQ(answer.error.domain, kKestrelvantageErrorDomain);
        EXPECT_FALSE(answer.data);
    }
    instance->releaseAPIManager();
    EXPECT_FALSE(instance->effect()->pluginState(nullptr, CMTimeMake(0, 30), kFxQuality_LOW, nullptr));
}

TEST_F(PluginStateTest, AnAnalysisOutOfTimeOrderGivesNoStateAndNoError) {
    MotionAnalysis analysis = test::movingBoxAnalysis(3);
    std::swap(analysis.motionBounds[0], analysis.motionBounds[2]);
    storeMotionAnalysis(analysis);
    LogCapture log;
    const test::StateAnswer answer = requestState(CMTimeMake(5, 30));
    EXPECT_TRUE(answer.answered);
    EXPECT_FALSE(answer.data);
    EXPECT_EQ(log.count("Data is insane; cannot render"), 1u);
    EXPECT_TRUE(linesStartingWith(log, "State: ").empty());
}

TEST_F(PluginStateTest, AHashWithoutAnAnalysisGivesSettingsAndTogglesOnly) {
    storeHashOnly("SHA256 digest: 00");
    ASSERT_TRUE(instance->document().setFloatValue(param::easeInTime, 5.0));  // no fade without an analysis
    ASSERT_TRUE(instance->document().setFloatValue(param::mixFrame, 0.5));
    ASSERT_TRUE(instance->document().setFloatValue(param::motionBoxTop, 0.75));
    ASSERT_TRUE(instance->document().setBoolValue(param::enable, true));
    ASSERT_TRUE(instance->document().setBoolValue(param::examMode, true));
    LogCapture log;
    const CMTime at = CMTimeMake(45, 30);
    const test::StateAnswer answer = requestState(at);
    ASSERT_TRUE(answer.data);
    const PluginState got = *decodePluginStateText(textFromData(*answer.data));

    EXPECT_EQ(log.count("Result is nil; can't calculate state"), 1u);
    EXPECT_EQ(linesStartingWith(log, "State: "),
              std::vector<std::string>{"State: " + std::string(textFromData(*answer.data))});
    EXPECT_EQ(got.motion, (MotionBounds{at, {}}));
    EXPECT_EQ(got.processedBounds, (MotionBounds{at, {}}));
    EXPECT_EQ(got.frameMix, 1.0);
    EXPECT_EQ(got.clipTimeFraction, 0.0);
    EXPECT_TRUE(got.enable);
    EXPECT_EQ(got.renderMode, RenderMode::Exam);
    EXPECT_FALSE(got.showBounds);
    EXPECT_EQ(got.motionBox, CGRectMake(0.02, 0.75, 0.98 - 0.02, 0.1 - 0.75));
    EXPECT_EQ(got.config, test::documentSettings(instance->document(), at));
}

TEST_F(PluginStateTest, DefaultMotionBoxAndTogglesAtTheRenderTime) {
    storeMotionAnalysis(test::movingBoxAnalysis(4));
    ASSERT_TRUE(instance->document().setBoolKeyframe(param::showBounds, CMTimeMake(0, 30), true));
    ASSERT_TRUE(instance->document().setBoolKeyframe(param::showBounds, CMTimeMake(60, 30), false));
    LogCapture quiet;
    const PluginState early = state(CMTimeMake(30, 30));
    EXPECT_NEAR(early.motionBox.origin.x, 0.02, 1e-15);
    EXPECT_NEAR(early.motionBox.origin.y, 0.55, 1e-15);
    EXPECT_NEAR(early.motionBox.size.width, 0.96, 1e-15);
    EXPECT_NEAR(early.motionBox.size.height, -0.45, 1e-15);
    EXPECT_TRUE(early.showBounds);
    EXPECT_FALSE(early.enable);  // the parameter's default
    EXPECT_EQ(early.renderMode, RenderMode::Normal);
    EXPECT_FALSE(state(CMTimeMake(75, 30)).showBounds);
}

TEST_F(PluginStateTest, TimingGivesTheClipFractionAndTheRateCounters) {
    storeMotionAnalysis(test::movingBoxAnalysis(3));
    LogCapture quiet;
    instance->timing().setTiming({CMTimeMake(30, 30), CMTimeMake(120, 30), 30000, 1001, CMTimeMake(1, 25)});
    EXPECT_EQ(state(CMTimeMake(90, 30)).clipTimeFraction, 0.5);  // 2 s in, of 4 s
    {
        auto locked = counter()->lock();
        EXPECT_EQ(locked.usage.timelineFps.lastFlt, float(30000.0 / 1001.0));
        EXPECT_EQ(locked.usage.nativeFps.lastFlt, 25.0f);
    }

    // A frame duration without a count of units gives a native rate of 0.
    instance->timing().setTiming({CMTimeMake(0, 30), CMTimeMake(0, 30), 24, 1, CMTimeMake(0, 30)});
    EXPECT_EQ(state(CMTimeMake(30, 30)).clipTimeFraction, 0.0);  // no duration
    {
        auto locked = counter()->lock();
        EXPECT_EQ(locked.usage.timelineFps.lastFlt, 24.0f);
        EXPECT_EQ(locked.usage.nativeFps.lastFlt, 0.0f);
    }

    // A timeline rate over 0 is no rate: it is not recorded, so the counter stays encodable.
    instance->timing().setTiming({CMTimeMake(0, 30), CMTimeMake(90, 30), 24, 0, CMTimeMake(1, 30)});
    state(CMTimeMake(30, 30));
    {
        auto locked = counter()->lock();
        EXPECT_EQ(locked.usage.timelineFps.lastFlt, 24.0f);
        EXPECT_EQ(locked.usage.nativeFps.lastFlt, 30.0f);
    }
}

TEST_F(PluginStateTest, WithoutTimingTheFrameIsTheEffectStart) {
    storeMotionAnalysis(test::movingBoxAnalysis(30));
    instance->apiManager().setAvailability(FxProtocol::FxTimingAPI_v4, host::ServiceAvailability::withheld);
    LogCapture quiet;
    const PluginState plain = state(CMTimeMake(60, 30));
    EXPECT_EQ(plain.clipTimeFraction, 0.0);
    EXPECT_EQ(plain.frameMix, 1.0);
    EXPECT_EQ(counter()->lock().usage.timelineFps, Counter::Feature{});

    // t and the time left are both 0: any fade at either end hides the reframing.
    change(param::easeInTime, 1.0);
    EXPECT_EQ(state(CMTimeMake(60, 30)).frameMix, 0.0);
    change(param::easeInTime, 0.0);
    change(param::easeOutTime, 1.0);
    EXPECT_EQ(state(CMTimeMake(60, 30)).frameMix, 0.0);
}

TEST_F(PluginStateTest, FadesInOverTheFirstHalfAndOutAtTheEnd) {
    storeMotionAnalysis(test::movingBoxAnalysis(30));
    LogCapture quiet;
    change(param::mixFrame, 0.5);
    change(param::easeInTime, 2.0);
    change(param::easeOutTime, 1.0);
    // The default timing: from 0 for 3 s.
    EXPECT_EQ(state(CMTimeMake(30, 30)).frameMix, 0.5 * 0.5);   // half the ease-in
    EXPECT_EQ(state(CMTimeMake(54, 30)).frameMix, 1.0 * 0.5);   // past the middle, before the ease-out
    EXPECT_EQ(state(CMTimeMake(75, 30)).frameMix, 0.5 * 0.5);   // half the ease-out
}

TEST_F(PluginStateTest, ShowsTheSampleInForceAndDropsAStaleOne) {
    // A new effect object samples every 5 × 30/1000 s = 0.15 s.
    MotionAnalysis analysis;
    analysis.motionBounds = {
        MotionBounds{CMTimeMake(30, 30), {box(0.25, 0.25, 0.5, 0.5, 300)}},
        MotionBounds{CMTimeMake(33, 30), {box(0.5, 0.25, 0.75, 0.5, 400)}},
    };
    storeMotionAnalysis(analysis);
    LogCapture log;
    const std::string first = R"([{"minX":0.25,"minY":0.25,"maxX":0.5,"maxY":0.5,"count":300}])";
    const std::string second = R"([{"minX":0.5,"minY":0.25,"maxX":0.75,"maxY":0.5,"count":400}])";

    // Before the first sample: the first, however early.
    EXPECT_EQ(state(CMTimeMake(0, 30)).motion, analysis.motionBounds[0]);
    EXPECT_EQ(linesEqualTo(log, first), 1u);
    // A sample is shown from half a period (0.075 s) before its time.
    EXPECT_EQ(state(CMTimeMake(30, 30)).motion, analysis.motionBounds[0]);  // 0.1 s before the second
    EXPECT_EQ(state(CMTimeMake(31, 30)).motion, analysis.motionBounds[1]);  // 0.067 s before it
    // More than a period after the last: logged, but not shown.
    log.clear();
    const CMTime late = CMTimeMake(38, 30);
    EXPECT_EQ(state(late).motion, (MotionBounds{late, {}}));
    EXPECT_EQ(linesEqualTo(log, second), 1u);
    // An analysis run sets the period: 5 frames of 2/30 s make it 1/3 s.
    ASSERT_TRUE(setUpRun(test::frameRange(0, 90), CMTimeMake(2, 30)));
    EXPECT_EQ(state(late).motion, analysis.motionBounds[1]);

    // No samples at all: an empty sample at the render time, "[]" logged.
    storeMotionAnalysis(MotionAnalysis{});
    log.clear();
    EXPECT_EQ(state(late).motion, (MotionBounds{late, {}}));
    EXPECT_EQ(linesEqualTo(log, "[]"), 1u);
}

// The six smoothed bounds the state must have used, computed the test's way.
struct SmoothedBounds {
    std::array<Bounds, 3> pan;
    std::array<Bounds, 3> zoom;
};

SmoothedBounds smoothedBounds(const MotionAnalysis& analysis, const FrameConfig& config, CMTime start,
                              std::array<double, 3> knots) {
    const SettingsProvider settings = [&](CMTime) { return config; };
    SmoothedBounds out;
    for (size_t i = 0; i < 3; ++i) {
        out.pan[i] = computeProcessedBounds(start, analysis, settings, knots[i], config.easeTimeMarginPan);
        out.zoom[i] = computeProcessedBounds(start, analysis, settings, knots[i], config.easeTimeMarginZoom);
    }
    return out;
}

TEST_F(PluginStateTest, TheCropBlendsTheSixSmoothedBoundsAroundTheKnots) {
    const MotionAnalysis analysis = test::movingBoxAnalysis(40);
    storeMotionAnalysis(analysis);
    const CMTime start = CMTimeMake(15, 30);
    instance->timing().setTiming({start, CMTimeMake(300, 30), 30, 1, CMTimeMake(1, 30)});
    LogCapture log;
    change(param::easeTimeMarginPan, 0.5);
    const CMTime at = CMTimeMake(90, 30);  // t 2.5 s: knots 1, 3 and 5 s with the default spacing of 2 s
    SmoothedBounds six = smoothedBounds(analysis, test::documentSettings(instance->document(), at), start, {1, 3, 5});
    const Bounds blended = interpolateCropBox(six.pan, six.zoom, {1, 3, 5}, 2.5);
    ASSERT_NE(blended, Bounds{});
    EXPECT_EQ(state(at).processedBounds, (MotionBounds{at, {blended}}));

    // Without smoothing all three knots are t: the pan box at t, at the size
    // of the zoom box.
    change(param::easeTimeSmooth, 0.0);
    change(param::easeTimeMarginZoom, 1.5);
    six = smoothedBounds(analysis, test::documentSettings(instance->document(), at), start, {2.5, 2.5, 2.5});
    ASSERT_NE(six.pan[1], six.zoom[1]);
    Bounds expected = six.pan[1];
    expected.count = 3 * six.pan[1].count;
    fitInFrame(expected, six.zoom[1].maxX - six.zoom[1].minX, six.zoom[1].maxY - six.zoom[1].minY, 0, 0);
    log.clear();
    EXPECT_EQ(state(at).processedBounds, (MotionBounds{at, {expected}}));
    EXPECT_EQ(linesStartingWith(log, "result ").size(), 1u);  // the fitted box
}

TEST_F(PluginStateTest, NoFollowedMotionGivesOneZeroBox) {
    // Every box lies above the motion-detection area.
    MotionAnalysis analysis = test::movingBoxAnalysis(10);
    for (auto& sample : analysis.motionBounds) sample.bounds = {box(0.2, 0.7, 0.4, 0.9)};
    storeMotionAnalysis(analysis);
    LogCapture log;
    const CMTime at = CMTimeMake(20, 30);
    EXPECT_EQ(state(at).processedBounds, (MotionBounds{at, {Bounds{}}}));
    EXPECT_TRUE(linesStartingWith(log, "result ").empty());
}

TEST_F(PluginStateTest, BeginAndEndSettingsTakeNoPart) {
    storeMotionAnalysis(test::movingBoxAnalysis(20));
    LogCapture quiet;
    const CMTime at = CMTimeMake(40, 30);
    const PluginState before = state(at);
    for (uint32_t id : {param::beginOffsetX, param::beginOffsetY, param::beginScale, param::endOffsetX,
                        param::endOffsetY, param::endScale}) {
        change(id, 0.75);
    }
    EXPECT_EQ(state(at), before);
}

// The host's timing service, which lets the test act while a state call is
// between reading its settings and putting them back.
class TimingInTheMiddle final : public FxTimingAPI_v4 {
public:
    explicit TimingInTheMiddle(FxTimingAPI_v4& host) : host_(host) {}

    std::function<void()> duringCall;

    void startTimeForEffect(CMTime* startTime) override {
        if (duringCall) std::exchange(duringCall, nullptr)();
        host_.startTimeForEffect(startTime);
    }
    void durationTimeForEffect(CMTime* duration) override { host_.durationTimeForEffect(duration); }
    uint32_t timelineFpsNumeratorForEffect(const FxPlugIn* e) override {
        return host_.timelineFpsNumeratorForEffect(e);
    }
    uint32_t timelineFpsDenominatorForEffect(const FxPlugIn* e) override {
        return host_.timelineFpsDenominatorForEffect(e);
    }
    void frameDuration(CMTime* frameDuration) override { host_.frameDuration(frameDuration); }

private:
    FxTimingAPI_v4& host_;
};

TEST_F(PluginStateTest, AChangeDuringAFrameIsNotUndoneByItsSettings) {
    const auto timing = std::make_shared<TimingInTheMiddle>(instance->timing());
    instance->apiManager().provide(FxProtocol::FxTimingAPI_v4, timing);
    storeMotionAnalysis(test::movingBoxAnalysis(20));
    LogCapture quiet;
    const CMTime at = CMTimeMake(40, 30);

    timing->duringCall = [&] { change(param::brightness, 0.5); };
    EXPECT_EQ(state(at).config.brightness, 1.0);  // read before the change
    EXPECT_EQ(state(at).config.brightness, 0.5);
}

// The arithmetic, with numbers worked by hand (all exact in binary).

TEST(PerFrameArithmeticTest, KnotsLieHalfASpacingAroundTheSpanOfT) {
    EXPECT_EQ(knotOffsets(2.5, 2.0), (std::array<double, 3>{1.0, 3.0, 5.0}));
    EXPECT_EQ(knotOffsets(0.0, 2.0), (std::array<double, 3>{-1.0, 1.0, 3.0}));
    EXPECT_EQ(knotOffsets(-0.5, 2.0), (std::array<double, 3>{-3.0, -1.0, 1.0}));
    EXPECT_EQ(knotOffsets(2.5, 0.0), (std::array<double, 3>{2.5, 2.5, 2.5}));
    EXPECT_EQ(knotOffsets(2.5, 1e-12), (std::array<double, 3>{2.5, 2.5, 2.5}));
}

struct CropCase {
    std::array<Bounds, 3> pan{box(0, 0.25, 0.25, 0.5, 100), box(0.125, 0.25, 0.375, 0.5, 200),
                              box(0.5, 0.25, 0.75, 0.5, 300)};
    std::array<Bounds, 3> zoom{box(0.125, 0.25, 0.25, 0.5, 1), box(0.125, 0.25, 0.25, 0.5, 1),
                               box(0.125, 0.25, 0.25, 0.5, 1)};
};

TEST(PerFrameArithmeticTest, EdgesFollowAHermiteCurveThroughTheKnots) {
    LogCapture quiet;
    const CropCase c;
    // u = 0.25 between midpoints 0 and 2; x: slopes 0.25 and 0.75, weight
    // 0.15625, centre 0.2265625; y does not move (weight u); size from zoom.
    EXPECT_EQ(interpolateCropBox(c.pan, c.zoom, {-1, 1, 3}, 0.5), box(0.1640625, 0.25, 0.2890625, 0.5, 600));
    // At the first midpoint: halfway between knots 0 and 1.
    EXPECT_EQ(interpolateCropBox(c.pan, c.zoom, {-1, 1, 3}, 0.0), box(0.125, 0.25, 0.25, 0.5, 600));
    // Knots together: every weight 1, halfway between knots 1 and 2.
    EXPECT_EQ(interpolateCropBox(c.pan, c.zoom, {1, 1, 1}, 1.0), box(0.375, 0.25, 0.5, 0.5, 600));
}

TEST(PerFrameArithmeticTest, AnyUnusableBoundsGiveTheZeroBox) {
    const std::vector<Bounds> unusable = {box(0.1, 0.1, 0.5, 0.5, 0), box(0, 0, 0, 0, 5),
                                          box(0.25, 0.1, 0.25 + 0.0009765625, 0.5), box(0.1, 0.1, 0.5, 0.1005)};
    for (size_t i = 0; i < 6; ++i) {
        for (const Bounds& bad : unusable) {
            CropCase c;
            (i < 3 ? c.pan[i] : c.zoom[i - 3]) = bad;
            EXPECT_EQ(interpolateCropBox(c.pan, c.zoom, {-1, 1, 3}, 0.5), Bounds{}) << i;
        }
    }
    EXPECT_TRUE(isUsableCropBounds(box(0.1, 0.1, 0.1011, 0.1011, -3)));
}

TEST(PerFrameArithmeticTest, CountsAddUpToTheirLimit) {
    LogCapture quiet;
    CropCase c;
    for (auto& b : c.pan) b.count = INT64_MAX / 2;
    EXPECT_EQ(interpolateCropBox(c.pan, c.zoom, {-1, 1, 3}, 0.5).count, INT64_MAX);
}

TEST(PerFrameArithmeticTest, FadeIsASmoothStepAtEitherEnd) {
    // In: x = t / easeIn, only in the first half of the effect.
    EXPECT_EQ(fadeFactor(0.5, 9.0, 0.1, 1.0, 0.0), 0.5);
    EXPECT_EQ(fadeFactor(0.25, 9.0, 0.1, 1.0, 0.0), 0.15625);
    EXPECT_EQ(fadeFactor(0.5, 0.5, 0.5, 1.0, 1.0), 0.5);  // the middle still fades in
    EXPECT_EQ(fadeFactor(1.5, 0.5, 0.75, 2.0, 0.0), 1.0);
    // Out: x = rest / easeOut.
    EXPECT_EQ(fadeFactor(1.5, 0.5, 0.75, 2.0, 1.0), 0.5);
    EXPECT_EQ(fadeFactor(1.5, 0.5, 0.75, 0.0, 0.5), 1.0);
    // No time known: either fade hides it all.
    EXPECT_EQ(fadeFactor(0, 0, 0, 1.0, 0.0), 0.0);
    EXPECT_EQ(fadeFactor(0, 0, 0, 0.0, 1.0), 0.0);
    EXPECT_EQ(fadeFactor(0, 0, 0, 0.0, 0.0), 1.0);
    // Frames outside the effect stay within 0...1.
    EXPECT_EQ(fadeFactor(-1.0, 4.0, -0.25, 1.0, 0.0), 0.0);
    EXPECT_EQ(fadeFactor(5.0, -1.0, 1.25, 0.0, 1.0), 0.0);
    EXPECT_EQ(fadeFactor(5.0, -1.0, 1.25, 0.0, 0.0), 0.0);
}

}  // namespace
}  // namespace kv
