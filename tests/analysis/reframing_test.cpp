#include "analysis/reframing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/coregraphics/cgrect.h"
#include "platform/foundation/log.h"
#include "tests/analysis/default_settings.h"

namespace {

using kv::Bounds;
using kv::FrameConfig;
using kv::MotionAnalysis;
using kv::MotionBounds;
using kv::testing::defaultSettings;

FrameConfig defaultsAt(CMTime) { return defaultSettings(); }

MotionBounds sampleAt(int64_t value, int32_t timescale, std::vector<Bounds> bounds) {
    return MotionBounds{CMTimeMake(value, timescale), std::move(bounds)};
}

MotionAnalysis analysisOf(std::vector<MotionBounds> samples) {
    MotionAnalysis analysis;
    analysis.motionBounds = std::move(samples);
    return analysis;
}

void expectBoundsNear(const Bounds& actual, const Bounds& expected) {
    EXPECT_NEAR(actual.minX, expected.minX, 1e-12);
    EXPECT_NEAR(actual.minY, expected.minY, 1e-12);
    EXPECT_NEAR(actual.maxX, expected.maxX, 1e-12);
    EXPECT_NEAR(actual.maxY, expected.maxY, 1e-12);
    EXPECT_EQ(actual.count, expected.count);
}

const Bounds kLeft{0.2, 0.2, 0.4, 0.4, 500};
const Bounds kRight{0.6, 0.2, 0.8, 0.4, 500};

// --- binary search ---

TEST(PartitioningIndexTest, FindsTheFirstElementThatHolds) {
    const std::vector<int> values{1, 3, 5, 7, 9};
    for (int limit = 0; limit <= 10; ++limit) {
        const size_t expected = static_cast<size_t>(limit / 2);  // the odd values below limit
        EXPECT_EQ(kv::partitioningIndex(values, [&](int v) { return v >= limit; }), expected) << limit;
    }
    EXPECT_EQ(kv::partitioningIndex(std::vector<int>{}, [](int) { return true; }), 0u);
    EXPECT_EQ(kv::partitioningIndex(values, [](int) { return false; }), 5u);
}

TEST(PartitioningIndexTest, PassesOnThePredicatesError) {
    const std::vector<int> values{1, 2, 3, 4};
    int calls = 0;
    const kv::Result<size_t> failed = kv::partitioningIndex(values, [&](int v) -> kv::Result<bool> {
        ++calls;
        if (v == 3) return kv::Error{"no answer for 3"};
        return v >= 2;
    });
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "no answer for 3");
    EXPECT_EQ(calls, 1);  // the middle of four is the third element

    const kv::Result<size_t> found = kv::partitioningIndex(values, [](int v) -> kv::Result<bool> { return v >= 2; });
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(*found, 1u);
}

// --- the sample filter ---

TEST(KeptUnionTest, FollowsBoxesWithACornerOrTheCentreInTheMotionBox) {
    const FrameConfig config = defaultSettings();
    auto kept = [&](Bounds b) { return kv::keptUnion(MotionBounds{CMTimeMake(0, 1), {b}}, config); };
    EXPECT_EQ(kept(Bounds{0.3, 0.2, 0.5, 0.4, 300}), (Bounds{0.3, 0.2, 0.5, 0.4, 300}));
    EXPECT_EQ(kept(Bounds{0.2, 0.6, 0.4, 0.8, 300}), Bounds{});                           // above
    EXPECT_EQ(kept(Bounds{0.2, 0.0, 0.4, 0.09, 300}), Bounds{});                          // below
    EXPECT_EQ(kept(Bounds{0.0, 0.0, 0.5, 0.9, 300}), (Bounds{0.0, 0.0, 0.5, 0.9, 300}));  // only the centre
    EXPECT_EQ(kept(Bounds{0.00, 0.00, 0.03, 1.00, 300}), Bounds{});  // overlaps, but no point inside
}

TEST(KeptUnionTest, MotionBoxIncludesItsMinimumEdgesOnly) {
    const FrameConfig config = defaultSettings();
    const CGRect box =
        CGRectMake(config.motionBoxLeft, config.motionBoxTop, config.motionBoxRight - config.motionBoxLeft,
                   config.motionBoxBottom - config.motionBoxTop);
    EXPECT_EQ(box.size.height, -0.45000000000000007);
    const double lowY = CGRectGetMinY(box);
    const double highY = CGRectGetMaxY(box);
    auto kept = [&](Bounds b) { return kv::keptUnion(MotionBounds{CMTimeMake(0, 1), {b}}, config); };
    // Only the first corner can lie in the box: on its minimum edges it does,
    // a step below them it does not.
    EXPECT_EQ(kept(Bounds{0.02, lowY, 1.5, 1.5, 300}).count, 300);
    EXPECT_EQ(kept(Bounds{0.02, std::nextafter(lowY, 0.0), 1.5, 1.5, 300}), Bounds{});
    EXPECT_EQ(kept(Bounds{std::nextafter(0.02, 0.0), lowY, 1.5, 1.5, 300}), Bounds{});
    // Every point at or above the maximum edge: outside.
    EXPECT_EQ(kept(Bounds{0.3, highY, 0.5, highY + 0.2, 300}), Bounds{});
    EXPECT_EQ(kept(Bounds{0.98, 0.2, 1.2, 0.4, 300}), Bounds{});
}

TEST(KeptUnionTest, NeedsEnoughMovedPixelsAndAnArea) {
    FrameConfig config = defaultSettings();
    const MotionBounds sample{CMTimeMake(0, 1),
                              {Bounds{0.3, 0.2, 0.4, 0.3, 199}, Bounds{0.5, 0.2, 0.6, 0.3, 200},
                               Bounds{0.3, 0.2, 0.3005, 0.5, 900}, Bounds{0.2, 0.4, 0.35, 0.5, 250}}};
    EXPECT_EQ(kv::keptUnion(sample, config), (Bounds{0.2, 0.2, 0.6, 0.5, 450}));
    config.minMovedPixels = 0;
    EXPECT_EQ(kv::keptUnion(MotionBounds{CMTimeMake(0, 1), {Bounds{0.3, 0.2, 0.4, 0.3, 0}}}, config), Bounds{});
}

// --- computeProcessedBounds ---

MotionAnalysis workedExample() {
    return analysisOf({sampleAt(0, 10, {Bounds{0.20, 0.20, 0.40, 0.40, 500}}),
                       sampleAt(5, 10, {Bounds{0.30, 0.25, 0.50, 0.45, 500}}),
                       sampleAt(10, 10, {Bounds{0.40, 0.30, 0.60, 0.50, 500}}),
                       sampleAt(15, 10, {Bounds{0.70, 0.70, 0.90, 0.90, 500}})});
}

TEST(ProcessedBoundsTest, WorkedExampleWalksBothWays) {
    const Bounds result = kv::computeProcessedBounds(CMTimeMake(0, 600), workedExample(), defaultsAt, 1.0, 4.0);
    expectBoundsNear(result, Bounds{0.30, 0.25, 0.50, 0.45, 1000});
}

TEST(ProcessedBoundsTest, WorkedExampleForwardWalkStopsAtTheMargin) {
    const Bounds result = kv::computeProcessedBounds(CMTimeMake(0, 600), workedExample(), defaultsAt, 0.0, 0.4);
    expectBoundsNear(result, Bounds{0.30, 0.25, 0.40, 0.40, 500});
}

TEST(ProcessedBoundsTest, NoSamplesOrOneSampleGiveTheZeroBounds) {
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), MotionAnalysis{}, defaultsAt, 0, 4), Bounds{});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), analysisOf({sampleAt(0, 1, {kLeft})}), defaultsAt, 0, 4),
              Bounds{});
}

// The result's count is the count of the region that was clipped, so the
// counts 300 and 700 tell which sample was the anchor.
MotionAnalysis twoSamples(int64_t firstValue, int64_t secondValue, int32_t timescale) {
    Bounds first = kLeft;
    first.count = 300;
    Bounds second = kLeft;
    second.count = 700;
    return analysisOf({sampleAt(firstValue, timescale, {first}), sampleAt(secondValue, timescale, {second})});
}

TEST(ProcessedBoundsTest, AnchorAtEitherEnd) {
    const MotionAnalysis analysis = twoSamples(0, 1, 1);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, -1.0, 4).count, 300);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, 0.0, 4).count, 300);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(10, 1), analysis, defaultsAt, 0.0, 4).count, 700);
}

TEST(ProcessedBoundsTest, SampleExactlyOffsetAfterTIsNotTheAnchor) {
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), twoSamples(0, 1, 1), defaultsAt, 1.0, 4).count, 300);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), twoSamples(0, 1, 1), defaultsAt, 1.5, 4).count, 700);
    // ... unless it is the first sample, which then is the anchor.
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), twoSamples(1, 2, 1), defaultsAt, 1.0, 4).count, 300);
}

TEST(ProcessedBoundsTest, AnchorSearchUsesTheOffsetAsADouble) {
    // t in timescale 1: t + 0.4 s as a time rounds to 0 s, which would make the
    // sample at 0 s the anchor. The search uses 0.4 itself and finds 0.2 s.
    const MotionAnalysis analysis = analysisOf({sampleAt(0, 10, {Bounds{0.2, 0.2, 0.4, 0.4, 300}}),
                                                sampleAt(2, 10, {Bounds{0.2, 0.2, 0.4, 0.4, 700}}),
                                                sampleAt(6, 10, {Bounds{0.6, 0.2, 0.8, 0.4, 500}})});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, 0.4, 4).count, 700);
}

TEST(ProcessedBoundsTest, AsksForSettingsAtTheQueryTimeTAndTheWalkedSamples) {
    std::vector<CMTime> asked;
    const kv::SettingsProvider recording = [&](CMTime time) {
        asked.push_back(time);
        return defaultSettings();
    };
    const MotionAnalysis analysis = analysisOf({sampleAt(0, 100, {kLeft}), sampleAt(20, 100, {kLeft}),
                                                sampleAt(36, 100, {kLeft}), sampleAt(50, 100, {kLeft})});
    // Query time 0.1 s + 0.254 s, rounded to the hundredth: 0.35 s.
    kv::computeProcessedBounds(CMTimeMake(10, 100), analysis, recording, 0.254, 4);
    const std::vector<CMTime> expected{CMTimeMake(35, 100), CMTimeMake(10, 100), CMTimeMake(0, 100),
                                       CMTimeMake(36, 100), CMTimeMake(50, 100)};
    for (const CMTime& time : asked) {
        bool known = false;
        for (const CMTime& e : expected) known = known || CMTimeCompare(time, e) == 0;
        EXPECT_TRUE(known) << time.value << "/" << time.timescale;
    }
    for (const CMTime& e : expected) {
        bool seen = false;
        for (const CMTime& time : asked) seen = seen || CMTimeCompare(time, e) == 0;
        EXPECT_TRUE(seen) << e.value << "/" << e.timescale;
    }
}

TEST(ProcessedBoundsTest, AnchorIsFilteredWithTheSettingsAtTheQueryTime) {
    // At the query time only, no box has enough moved pixels: the anchor keeps
    // nothing, so the first backward step has no region to clip.
    const kv::SettingsProvider strictAtQuery = [](CMTime time) {
        FrameConfig c = defaultSettings();
        if (CMTimeCompare(time, CMTimeMake(5, 10)) == 0) c.minMovedPixels = 100000;
        return c;
    };
    const MotionAnalysis analysis =
        analysisOf({sampleAt(0, 10, {kLeft}), sampleAt(2, 10, {kLeft}), sampleAt(4, 10, {kLeft})});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 10), analysis, defaultsAt, 0.5, 4).count, 1000);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 10), analysis, strictAtQuery, 0.5, 4).count, 500);
}

TEST(ProcessedBoundsTest, FirstEarlierSampleIsAlwaysTaken) {
    // A margin of 0 would stop the walk at any tested sample with motion.
    const MotionAnalysis analysis = analysisOf({sampleAt(0, 1, {kLeft}), sampleAt(1000, 1, {kLeft})});
    expectBoundsNear(kv::computeProcessedBounds(CMTimeMake(1000, 1), analysis, defaultsAt, 0.5, 0), kLeft);
}

TEST(ProcessedBoundsTest, BackwardWalkTestsNothingDuringItsWarmUp) {
    // Samples at 0, 10, 20 and 30 s; anchor at 30 s, margin 5 s. The sample at
    // 10 s lies past the margin and has motion, so it stops the walk once the
    // accumulation has reached minMotionArea, but not before.
    const Bounds big{0.2, 0.2, 0.4, 0.4, 500};
    const Bounds sliver{0.30, 0.30, 0.35, 0.31, 500};  // area 0.0005, below minMotionArea
    auto analysisWith = [&](const Bounds& third) {
        return analysisOf({sampleAt(0, 1, {Bounds{0.2, 0.2, 0.4, 0.4, 900}}),
                           sampleAt(10, 1, {Bounds{0.2, 0.2, 0.4, 0.4, 600}}), sampleAt(20, 1, {third}),
                           sampleAt(30, 1, {big})});
    };
    const CMTime t = CMTimeMake(30, 1);
    // Still warming up after 20 s: 10 s and 0 s are taken (500 + 500 + 600).
    const Bounds warming = kv::computeProcessedBounds(t, analysisWith(sliver), defaultsAt, 0.5, 5);
    EXPECT_EQ(warming.count, 1600);
    EXPECT_EQ(warming.minX, 0.2);
    // Enough after 20 s: the walk stops at 10 s.
    EXPECT_EQ(kv::computeProcessedBounds(t, analysisWith(big), defaultsAt, 0.5, 5).count, 500);
}

TEST(ProcessedBoundsTest, DisjointMotionContributesNothing) {
    const MotionAnalysis analysis =
        analysisOf({sampleAt(0, 1, {kLeft}), sampleAt(1, 1, {kRight}), sampleAt(2, 1, {kLeft})});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(1, 1), analysis, defaultsAt, 0.5, 4), Bounds{});
}

TEST(ProcessedBoundsTest, SampleWithoutKeptMotionIsPassedOver) {
    // The middle sample keeps nothing (too few moved pixels) and lies apart;
    // the walk goes on and clips the anchor's region against the third sample.
    const Bounds weak{0.6, 0.2, 0.8, 0.4, 10};
    const Bounds nearLeft{0.25, 0.2, 0.45, 0.4, 800};
    const MotionAnalysis analysis =
        analysisOf({sampleAt(0, 1, {kLeft}), sampleAt(1, 1, {weak}), sampleAt(2, 1, {}), sampleAt(3, 1, {nearLeft})});
    const Bounds result = kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, 0, 4);
    expectBoundsNear(result, Bounds{0.25, 0.2, 0.4, 0.4, 500});
}

TEST(ProcessedBoundsTest, EaseTimeSmoothZeroEndsTheForwardWalkOnceThereIsEnough) {
    // Backward accumulation of area 0.04 at t; forward samples as large.
    const MotionAnalysis analysis = analysisOf(
        {sampleAt(0, 1, {kLeft}), sampleAt(1, 1, {kLeft}), sampleAt(2, 1, {kLeft}), sampleAt(3, 1, {kLeft})});
    const CMTime t = CMTimeMake(1, 1);
    auto settings = [&](double minAreaAtT) -> kv::SettingsProvider {
        return [=](CMTime time) {
            FrameConfig c = defaultSettings();
            c.easeTimeSmooth = 0;
            if (CMTimeCompare(time, t) == 0) c.minMotionArea = minAreaAtT;
            return c;
        };
    };
    // Enough: the forward walk stops at its first sample; only the backward step counts.
    EXPECT_EQ(kv::computeProcessedBounds(t, analysis, settings(0.001), 0.5, 4).count, 500);
    // Not enough at t (read at t, not at the samples): the forward walk goes on.
    EXPECT_EQ(kv::computeProcessedBounds(t, analysis, settings(0.5), 0.5, 4).count, 1500);
}

TEST(ProcessedBoundsTest, MarginZeroEndsTheForwardWalkAtItsFirstSample) {
    const MotionAnalysis analysis =
        analysisOf({sampleAt(0, 1, {kLeft}), sampleAt(1, 1, {kLeft}), sampleAt(2, 1, {kLeft})});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, 0, 0), Bounds{});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, 0, 1).count, 500);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, 0, 1.5).count, 1000);
}

TEST(ProcessedBoundsTest, SmallMotionRunsTheBackwardWalkToTheFirstSample) {
    // Areas below minMotionArea: nothing ever stops the backward walk, and the
    // forward walk runs to the end without enough.
    const Bounds tiny{0.30, 0.30, 0.32, 0.32, 500};  // area 0.0004
    std::vector<MotionBounds> samples;
    for (int i = 0; i < 50; ++i) samples.push_back(sampleAt(i, 1, {tiny}));
    const MotionAnalysis analysis = analysisOf(samples);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(25, 1), analysis, defaultsAt, 0.5, 1).count, 49 * 500);
}

TEST(ProcessedBoundsTest, ForwardDistancesAreTakenFromTAsWritten) {
    // 0.3 s − 0.1 s in doubles is 0.19999999999999998, below the margin 0.2,
    // while 0.2 s taken directly would stop the walk: the third sample counts.
    const Bounds shifted{0.3, 0.2, 0.5, 0.4, 500};
    const MotionAnalysis analysis =
        analysisOf({sampleAt(0, 10, {kLeft}), sampleAt(1, 10, {kLeft}), sampleAt(3, 10, {shifted})});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 10), analysis, defaultsAt, 0.05, 0.2).count, 1000);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(0, 10), analysis, defaultsAt, 0.05, 0.19).count, 500);
}

TEST(ProcessedBoundsTest, BackwardDistancesAreTakenFromTAsWritten) {
    // e = (0.3 − 0.0) − (0.3 − 0.2) = 0.19999999999999998 < 0.2.
    const MotionAnalysis analysis =
        analysisOf({sampleAt(0, 10, {kLeft}), sampleAt(2, 10, {kLeft}), sampleAt(3, 10, {kLeft})});
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(3, 10), analysis, defaultsAt, 0.05, 0.2).count, 1000);
    EXPECT_EQ(kv::computeProcessedBounds(CMTimeMake(3, 10), analysis, defaultsAt, 0.05, 0.19).count, 500);
}

// --- cropFrame ---

struct CropCase {
    Bounds bounds;
    double centerX;
    double centerY;
    double scale;
};

TEST(CropFrameTest, DefaultSettingsExamples) {
    kv::LogCapture log;
    const double src = 1920.0 / 1080.0;
    const CMTime time = CMTimeMake(1001, 30000);
    const std::vector<CropCase> cases{
        {Bounds{0.4, 0.3, 0.6, 0.4, 0}, 0.5, 0.35, 3.0},
        {Bounds{0.9, 0.8, 0.98, 0.95, 0}, 0.8333333333333334, 0.8333333333333334, 3.0},
        {Bounds{0.1, 0.1, 0.9, 0.9, 0}, 0.5, 0.5, 1.0},
    };
    for (const CropCase& c : cases) {
        const kv::CropFrame crop = kv::cropFrame(time, src, c.bounds, defaultSettings());
        EXPECT_EQ(crop.time, time);
        EXPECT_NEAR(crop.centerX, c.centerX, 1e-12);
        EXPECT_NEAR(crop.centerY, c.centerY, 1e-12);
        EXPECT_EQ(crop.scale, c.scale);
    }
    EXPECT_EQ(log.lines().size(), 3u);
}

TEST(CropFrameTest, FirstExampleWindow) {
    kv::LogCapture log;
    kv::cropFrame(CMTimeMake(0, 1), 1920.0 / 1080.0, Bounds{0.4, 0.3, 0.6, 0.4, 1}, defaultSettings());
    ASSERT_EQ(log.lines().size(), 1u);
    // Window (0.3333, 0.1833, 0.6667, 0.5167): a third of the frame about (0.5, 0.35).
    EXPECT_EQ(log.lines()[0].rfind("result 0.33333333333333", 0), 0u) << log.lines()[0];
    EXPECT_NE(log.lines()[0].find(", 0.18333333333333"), std::string::npos) << log.lines()[0];
}

TEST(CropFrameTest, PortraitTargetLetsTheWindowOverhangSideways) {
    FrameConfig config = defaultSettings();
    config.aspectRatioWidth = 1080;
    config.aspectRatioHeight = 1920;
    const kv::CropFrame crop =
        kv::cropFrame(CMTimeMake(0, 1), 1920.0 / 1080.0, Bounds{0.9, 0.8, 0.98, 0.95, 7}, config);
    EXPECT_NEAR(crop.centerX, 0.94, 1e-12);
    EXPECT_NEAR(crop.centerY, 0.8333333333333334, 1e-12);
    EXPECT_EQ(crop.scale, 3.0);
}

TEST(CropFrameTest, MaxScaleWinsOverMinScale) {
    FrameConfig config = defaultSettings();
    config.minScale = 3;
    config.maxScale = 2;
    for (const Bounds& b : {Bounds{0.4, 0.3, 0.6, 0.4, 1}, Bounds{0.0, 0.0, 1.0, 1.0, 1}}) {
        EXPECT_EQ(kv::cropFrame(CMTimeMake(0, 1), 1920.0 / 1080.0, b, config).scale, 2.0);
    }
}

TEST(CropFrameTest, WindowLargerThanTheFrameEndsFlushWithTheLowEdge) {
    FrameConfig config = defaultSettings();
    config.minScale = 0.5;
    // Widened to (-0.02, -0.14, 1.02, 1.14): scale 1/1.28, window from 0 to 1.28.
    const kv::CropFrame crop = kv::cropFrame(CMTimeMake(0, 1), 1920.0 / 1080.0, Bounds{0.1, 0.1, 0.9, 0.9, 1}, config);
    EXPECT_NEAR(crop.scale, 1 / 1.28, 1e-15);
    EXPECT_NEAR(crop.centerX, 0.64, 1e-12);
    EXPECT_NEAR(crop.centerY, 0.64, 1e-12);
}

TEST(CropFrameTest, WiderSourceLetsTheWindowOverhangOnlySideways) {
    // A 2:1 source for a 1:1 target: marginX0 = 0.25, marginY0 = 0.
    FrameConfig config = defaultSettings();
    config.aspectRatioWidth = 1;
    config.aspectRatioHeight = 1;
    config.paddingTop = config.paddingBottom = config.paddingLeft = config.paddingRight = 0;
    const kv::CropFrame crop = kv::cropFrame(CMTimeMake(0, 1), 2.0, Bounds{0.0, 0.25, 0.1, 0.75, 1}, config);
    EXPECT_EQ(crop.scale, 2.0);
    EXPECT_NEAR(crop.centerX, 0.125, 1e-12);  // window from -0.125 (= -0.25 / 2) to 0.375
    EXPECT_NEAR(crop.centerY, 0.5, 1e-12);
}

}  // namespace
