#include "analysis/reframing.h"

#include <gtest/gtest.h>

#include <algorithm>
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
using kv::testing::defaultSettings;

FrameConfig defaultsAt(CMTime) { return defaultSettings(); }

// Samples at value / timescale seconds, one box each.
MotionAnalysis analysisOf(int32_t timescale, std::vector<std::pair<int64_t, Bounds>> samples) {
    MotionAnalysis analysis;
    for (const auto& [value, box] : samples) analysis.motionBounds.push_back({CMTimeMake(value, timescale), {box}});
    return analysis;
}

void expectBoundsNear(const Bounds& actual, const Bounds& expected) {
    EXPECT_NEAR(actual.minX, expected.minX, 1e-12);
    EXPECT_NEAR(actual.minY, expected.minY, 1e-12);
    EXPECT_NEAR(actual.maxX, expected.maxX, 1e-12);
    EXPECT_NEAR(actual.maxY, expected.maxY, 1e-12);
    EXPECT_EQ(actual.count, expected.count);
}

// The result's count is the count of the regions that were clipped, so the
// counts tell which samples were the anchor and which the walks took.
const Bounds kLeft{0.2, 0.2, 0.4, 0.4, 500};
const Bounds kLeft300{0.2, 0.2, 0.4, 0.4, 300};
const Bounds kLeft700{0.2, 0.2, 0.4, 0.4, 700};
const Bounds kRight{0.6, 0.2, 0.8, 0.4, 500};
const Bounds kTiny{0.30, 0.30, 0.32, 0.32, 500};  // area 0.0004, below minMotionArea

TEST(PartitioningIndexTest, FindsTheFirstElementThatHoldsOrPassesOnAnError) {
    const std::vector<int> values{1, 3, 5, 7, 9};
    for (int limit = 0; limit <= 10; ++limit) {
        EXPECT_EQ(kv::partitioningIndex(values, [&](int v) { return v >= limit; }), size_t(limit / 2)) << limit;
    }
    EXPECT_EQ(kv::partitioningIndex(std::vector<int>{}, [](int) { return true; }), 0u);

    const auto failed = kv::partitioningIndex(values, [](int v) -> kv::Result<bool> {
        if (v == 5) return kv::Error{"no answer"};
        return v >= 2;
    });
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "no answer");
}

TEST(KeptUnionTest, FiltersByMotionBoxPointsCountAndArea) {
    const FrameConfig config = defaultSettings();
    const CGRect box = CGRectMake(0.02, 0.55, 0.98 - 0.02, 0.1 - 0.55);
    EXPECT_EQ(box.size.height, -0.45000000000000007);
    const double lowY = CGRectGetMinY(box);
    const double highY = CGRectGetMaxY(box);
    const std::vector<std::pair<Bounds, bool>> cases{
        {{0.3, 0.2, 0.5, 0.4, 300}, true},
        {{0.2, 0.6, 0.4, 0.8, 300}, false},                         // above the box
        {{0.2, 0.0, 0.4, 0.09, 300}, false},                        // below it
        {{0.0, 0.0, 0.5, 0.9, 300}, true},                          // only the centre inside
        {{0.00, 0.00, 0.03, 1.00, 300}, false},                     // overlaps, no point inside
        {{0.00, 0.50, 0.05, 0.90, 300}, true},                      // only the (maxX, minY) corner inside
        {{0.02, lowY, 1.5, 1.5, 300}, true},                        // first corner on the minimum edges
        {{0.02, std::nextafter(lowY, 0.0), 1.5, 1.5, 300}, false},  // a step below them
        {{std::nextafter(0.02, 0.0), lowY, 1.5, 1.5, 300}, false},
        {{0.3, highY, 0.5, highY + 0.2, 300}, false},  // on the maximum edge: outside
        {{0.3, 0.2, 0.4, 0.3, 199}, false},            // below minMovedPixels
        {{0.3, 0.2, 0.3005, 0.4, 900}, false},         // too thin
    };
    for (const auto& [b, passes] : cases) {
        const Bounds kept = kv::keptUnion({CMTimeMake(0, 1), {b}}, config);
        EXPECT_EQ(kept, passes ? b : Bounds{}) << b.minX << ", " << b.minY << ", " << b.maxX << ", " << b.maxY;
    }
    FrameConfig anyCount = config;
    anyCount.minMovedPixels = 0;
    EXPECT_EQ(kv::keptUnion({CMTimeMake(0, 1), {Bounds{0.3, 0.2, 0.4, 0.3, 0}}}, anyCount), Bounds{});
}

TEST(ProcessedBoundsTest, WorkedExamples) {
    const MotionAnalysis analysis = analysisOf(10, {{0, {0.20, 0.20, 0.40, 0.40, 500}},
                                                    {5, {0.30, 0.25, 0.50, 0.45, 500}},
                                                    {10, {0.40, 0.30, 0.60, 0.50, 500}},
                                                    {15, {0.70, 0.70, 0.90, 0.90, 500}}});
    const CMTime t = CMTimeMake(0, 600);
    expectBoundsNear(kv::computeProcessedBounds(t, analysis, defaultsAt, 1.0, 4.0), {0.30, 0.25, 0.50, 0.45, 1000});
    expectBoundsNear(kv::computeProcessedBounds(t, analysis, defaultsAt, 0.0, 0.4), {0.30, 0.25, 0.40, 0.40, 500});
    EXPECT_EQ(kv::computeProcessedBounds(t, MotionAnalysis{}, defaultsAt, 0, 4), Bounds{});
}

struct WalkCase {
    const char* name;
    MotionAnalysis analysis;
    CMTime t;
    double offset;
    double margin;
    int64_t count;
};

TEST(ProcessedBoundsTest, AnchorAndWalks) {
    std::vector<std::pair<int64_t, Bounds>> small;
    for (int i = 0; i < 50; ++i) small.push_back({i, kTiny});
    const Bounds sliver{0.30, 0.30, 0.35, 0.31, 500};  // area 0.0005: still warming up after it
    const Bounds weak{0.6, 0.2, 0.8, 0.4, 10};         // keeps nothing
    const std::vector<WalkCase> cases{
        {"one sample", analysisOf(1, {{0, kLeft}}), CMTimeMake(0, 1), 0, 4, 0},
        {"before the first", analysisOf(1, {{0, kLeft300}, {1, kLeft700}}), CMTimeMake(0, 1), -1, 4, 300},
        {"after the last", analysisOf(1, {{0, kLeft300}, {1, kLeft700}}), CMTimeMake(10, 1), 0, 4, 700},
        {"exactly o after t", analysisOf(1, {{0, kLeft300}, {1, kLeft700}}), CMTimeMake(0, 1), 1.0, 4, 300},
        {"just past o", analysisOf(1, {{0, kLeft300}, {1, kLeft700}}), CMTimeMake(0, 1), 1.5, 4, 700},
        {"first sample o after t", analysisOf(1, {{1, kLeft300}, {2, kLeft700}}), CMTimeMake(0, 1), 1.0, 4, 300},
        // t + 0.4 s in t's timescale 1 is 0 s; the search uses 0.4 and anchors at 0.2 s.
        {"offset as a double", analysisOf(10, {{0, kLeft300}, {2, kLeft700}, {6, kRight}}), CMTimeMake(0, 1), 0.4, 4,
         700},
        {"first earlier sample always taken", analysisOf(1, {{0, kLeft}, {1000, kLeft}}), CMTimeMake(1000, 1), 0.5, 0,
         500},
        {"disjoint motion", analysisOf(1, {{0, kLeft}, {1, kRight}, {2, kLeft}}), CMTimeMake(1, 1), 0.5, 4, 0},
        {"no kept motion passed over", analysisOf(1, {{0, kLeft}, {1, weak}, {3, {0.25, 0.2, 0.45, 0.4, 800}}}),
         CMTimeMake(0, 1), 0, 4, 500},
        {"margin 0", analysisOf(1, {{0, kLeft}, {1, kLeft}, {2, kLeft}}), CMTimeMake(0, 1), 0, 0, 0},
        {"margin 1", analysisOf(1, {{0, kLeft}, {1, kLeft}, {2, kLeft}}), CMTimeMake(0, 1), 0, 1, 500},
        {"margin 1.5", analysisOf(1, {{0, kLeft}, {1, kLeft}, {2, kLeft}}), CMTimeMake(0, 1), 0, 1.5, 1000},
        {"small motion walks to both ends", analysisOf(1, small), CMTimeMake(25, 1), 0.5, 1, 49 * 500},
        // Past the margin at 10 s, but the accumulation is still below minMotionArea.
        {"warming up", analysisOf(1, {{0, kLeft}, {10, kLeft}, {20, sliver}, {30, kLeft}}), CMTimeMake(30, 1), 0.5, 5,
         1500},
        {"warmed up", analysisOf(1, {{0, kLeft}, {10, kLeft}, {20, kLeft}, {30, kLeft}}), CMTimeMake(30, 1), 0.5, 5,
         500},
        // e = 0.3 − 0.1 = 0.19999999999999998 in doubles, below a margin of 0.2.
        {"forward e as written", analysisOf(10, {{0, kLeft}, {1, kLeft}, {3, kLeft}}), CMTimeMake(0, 10), 0.05, 0.2,
         1000},
        {"forward e past margin", analysisOf(10, {{0, kLeft}, {1, kLeft}, {3, kLeft}}), CMTimeMake(0, 10), 0.05, 0.19,
         500},
        {"backward e as written", analysisOf(10, {{0, kLeft}, {2, kLeft}, {3, kLeft}}), CMTimeMake(3, 10), 0.05, 0.2,
         1000},
        {"backward e past margin", analysisOf(10, {{0, kLeft}, {2, kLeft}, {3, kLeft}}), CMTimeMake(3, 10), 0.05, 0.19,
         500},
    };
    for (const WalkCase& c : cases) {
        EXPECT_EQ(kv::computeProcessedBounds(c.t, c.analysis, defaultsAt, c.offset, c.margin).count, c.count) << c.name;
    }
}

TEST(ProcessedBoundsTest, ClipsAgainstTheSamplesWholeUnfilteredList) {
    // The box that overlaps the region keeps no motion of its own; it still clips.
    MotionAnalysis analysis = analysisOf(1, {{0, kLeft}, {1, kRight}});
    analysis.motionBounds[1].bounds.push_back(Bounds{0.25, 0.2, 0.4, 0.4, 10});
    expectBoundsNear(kv::computeProcessedBounds(CMTimeMake(0, 1), analysis, defaultsAt, 0, 4),
                     Bounds{0.25, 0.2, 0.4, 0.4, 500});
}

TEST(ProcessedBoundsTest, AsksForSettingsAtTheQueryTimeTAndTheWalkedSamples) {
    std::vector<CMTime> asked;
    const kv::SettingsProvider recording = [&](CMTime time) {
        asked.push_back(time);
        return defaultSettings();
    };
    const MotionAnalysis analysis = analysisOf(100, {{0, kLeft}, {20, kLeft}, {36, kLeft}, {50, kLeft}});
    // Query time 0.1 s + 0.254 s rounded to the hundredth: 0.35 s; the anchor is 0.2 s.
    kv::computeProcessedBounds(CMTimeMake(10, 100), analysis, recording, 0.254, 4);
    const std::vector<int64_t> expected{35, 10, 0, 36, 50};
    auto among = [](CMTime time, const std::vector<int64_t>& hundredths) {
        for (int64_t v : hundredths) {
            if (CMTimeCompare(time, CMTimeMake(v, 100)) == 0) return true;
        }
        return false;
    };
    for (const CMTime& time : asked) EXPECT_TRUE(among(time, expected)) << time.value << "/" << time.timescale;
    for (int64_t v : expected) {
        EXPECT_TRUE(std::any_of(asked.begin(), asked.end(), [&](CMTime time) { return among(time, {v}); })) << v;
    }
}

TEST(ProcessedBoundsTest, SettingsAtTheQueryTimeFilterTheAnchorAndThoseAtTDecideEnough) {
    const CMTime t = CMTimeMake(10, 10);
    auto settings = [&](CMTime strictAt, double minAreaAtT) -> kv::SettingsProvider {
        return [=](CMTime time) {
            FrameConfig c = defaultSettings();
            c.easeTimeSmooth = 0;
            if (CMTimeCompare(time, strictAt) == 0) c.minMovedPixels = 100000;
            if (CMTimeCompare(time, t) == 0) c.minMotionArea = minAreaAtT;
            return c;
        };
    };
    const MotionAnalysis analysis = analysisOf(1, {{0, kLeft}, {1, kLeft}, {2, kLeft}, {3, kLeft}});
    const CMTime never = CMTimeMake(-1, 1);
    // Enough after the backward step: with easeTimeSmooth 0 the forward walk stops at once.
    EXPECT_EQ(kv::computeProcessedBounds(t, analysis, settings(never, 0.001), 0.5, 4).count, 500);
    // Not enough at t (though enough at the samples' times): the forward walk goes on.
    EXPECT_EQ(kv::computeProcessedBounds(t, analysis, settings(never, 0.5), 0.5, 4).count, 1500);
    // The anchor (1 s) keeps nothing under the settings at the query time 1.5 s.
    const Bounds noAnchor = kv::computeProcessedBounds(t, analysis, settings(CMTimeMake(3, 2), 0.5), 0.5, 4);
    EXPECT_EQ(noAnchor.count, 500);
}

// Default settings with easeTimeSmooth and maxMotionArea set at every time,
// and minMotionArea set at time t only.
struct StopCase {
    const char* name;
    MotionAnalysis analysis;
    CMTime t;
    double offset;
    double margin;
    double easeTimeSmooth;
    double maxMotionArea;
    double minMotionAreaAtT;
    int64_t count;
};

TEST(ProcessedBoundsTest, StopTestsAtTheirBoundaries) {
    const MotionAnalysis everySecond = analysisOf(1, {{0, kLeft}, {1, kLeft}, {2, kLeft}, {3, kLeft}});
    const Bounds quarter{0.25, 0.25, 0.5, 0.5, 500};  // area exactly 0.0625
    const MotionAnalysis quarters = analysisOf(1, {{0, quarter}, {1, quarter}, {2, quarter}, {3, quarter}});
    const CMTime three = CMTimeMake(30, 10);
    // From the anchor at 3 s the backward walk meets 1 s at e = 1 and 0 s at e = 2.
    const std::vector<StopCase> cases{
        {"backward: past easeTimeSmooth, below maxMotionArea", everySecond, three, 0.5, 10, 0.5, 1.0, 0.001, 1500},
        {"backward: past easeTimeSmooth, at maxMotionArea", everySecond, three, 0.5, 10, 0.5, 0.03, 0.001, 500},
        {"backward: e equal to the margin", everySecond, three, 0.5, 1, 2.0, 1.0, 0.001, 500},
        // 0.04 taken is below minMotionArea at t, though above it at every sample.
        {"backward: warm-up reads minMotionArea at t", everySecond, three, 0.5, 1, 2.0, 1.0, 0.05, 1500},
        // The backward walk takes 0.0625; with easeTimeSmooth 0 enough stops the forward walk at once.
        {"forward: enough at areaB equal to minMotionArea", quarters, CMTimeMake(1, 1), 0.5, 10, 0, 1.0, 0.0625,
         500},
    };
    for (const StopCase& c : cases) {
        const kv::SettingsProvider settings = [&c](CMTime time) {
            FrameConfig config = defaultSettings();
            config.easeTimeSmooth = c.easeTimeSmooth;
            config.maxMotionArea = c.maxMotionArea;
            if (CMTimeCompare(time, c.t) == 0) config.minMotionArea = c.minMotionAreaAtT;
            return config;
        };
        EXPECT_EQ(kv::computeProcessedBounds(c.t, c.analysis, settings, c.offset, c.margin).count, c.count) << c.name;
    }
}

TEST(ProcessedBoundsTest, QueryTimeRoundedPastASampleFiltersTheAnchor) {
    // t + 0.6 s lies before the sample at 0.8 s, so the anchor is the one at
    // 0.5 s; in t's timescale 1 the query time rounds up to 1 s, past 0.8 s.
    const MotionAnalysis analysis = analysisOf(10, {{0, kLeft}, {5, kLeft}, {8, kLeft}, {15, kLeft}});
    const CMTime t = CMTimeMake(0, 1);
    const kv::SettingsProvider strictAtOneSecond = [](CMTime time) {
        FrameConfig config = defaultSettings();
        if (CMTimeCompare(time, CMTimeMake(1, 1)) == 0) config.minMovedPixels = 100000;
        return config;
    };
    EXPECT_EQ(kv::computeProcessedBounds(t, analysis, defaultsAt, 0.6, 4).count, 1500);
    // The anchor keeps nothing: only the forward clip of 0.8 s against 1.5 s remains.
    EXPECT_EQ(kv::computeProcessedBounds(t, analysis, strictAtOneSecond, 0.6, 4).count, 500);
}

struct CropCase {
    Bounds bounds;
    double aspectWidth, aspectHeight, minScale, maxScale;
    double centerX, centerY, scale;
};

TEST(CropFrameTest, Examples) {
    constexpr double kThird = 0.8333333333333334;
    const std::vector<CropCase> cases{
        {{0.4, 0.3, 0.6, 0.4, 0}, 1920, 1080, 1, 3, 0.5, 0.35, 3.0},
        {{0.9, 0.8, 0.98, 0.95, 0}, 1920, 1080, 1, 3, kThird, kThird, 3.0},  // moved off both high edges
        {{0.9, 0.8, 0.98, 0.95, 0}, 1080, 1920, 1, 3, 0.94, kThird, 3.0},    // may overhang sideways
        {{0.1, 0.1, 0.9, 0.9, 0}, 1920, 1080, 1, 3, 0.5, 0.5, 1.0},
        {{0.4, 0.3, 0.6, 0.4, 0}, 1920, 1080, 3, 2, 0.5, 0.35, 2.0},  // maxScale decides
        // Widened to (-0.02, -0.14, 1.02, 1.14): a window 1.28 wide, flush with the low edges.
        {{0.1, 0.1, 0.9, 0.9, 0}, 1920, 1080, 0.5, 3, 0.64, 0.64, 1 / 1.28},
    };
    kv::LogCapture log;
    const CMTime time = CMTimeMake(1001, 30000);
    for (const CropCase& c : cases) {
        FrameConfig config = defaultSettings();
        config.aspectRatioWidth = c.aspectWidth;
        config.aspectRatioHeight = c.aspectHeight;
        config.minScale = c.minScale;
        config.maxScale = c.maxScale;
        const kv::CropFrame crop = kv::cropFrame(time, 1920.0 / 1080.0, c.bounds, config);
        EXPECT_EQ(crop.time, time);
        EXPECT_NEAR(crop.centerX, c.centerX, 1e-12) << c.bounds.minX;
        EXPECT_NEAR(crop.centerY, c.centerY, 1e-12) << c.bounds.minX;
        EXPECT_NEAR(crop.scale, c.scale, 1e-15);
    }
    ASSERT_EQ(log.lines().size(), cases.size());
    // The first window: (0.3333, 0.1833, 0.6667, 0.5167).
    EXPECT_EQ(log.lines()[0].rfind("result 0.33333333333333", 0), 0u) << log.lines()[0];
    EXPECT_NE(log.lines()[0].find(", 0.18333333333333"), std::string::npos) << log.lines()[0];
}

}  // namespace
