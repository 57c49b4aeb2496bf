#include "analysis/motion_detect_context.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/foundation/log.h"
#include "tests/analysis/synthetic_frames.h"

namespace {

using kv::MotionBounds;
using kv::MotionDetectContext;
using kv::testing::flatFrame;
using kv::testing::frameWithSquare;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Frame i of a clip at 30 frames a second in which the square moves 3 pixels right a frame.
std::vector<float> movingFrame(int i) { return frameWithSquare(kWidth, kHeight, 60 + 3 * i, 60, 100); }

CMTime frameTime(int i) { return CMTimeMake(i, 30); }

MotionBounds sampleAt(int64_t value, int32_t timescale, std::vector<kv::Bounds> boxes = {{0.1, 0.1, 0.2, 0.2, 300}}) {
    return MotionBounds{CMTimeMake(value, timescale), std::move(boxes)};
}

TEST(MotionDetectContextTest, StartsWithTheDocumentedValues) {
    const MotionDetectContext c;
    EXPECT_EQ(c.nFrames, 2);
    EXPECT_EQ(c.analyzeEvery, 5);
    EXPECT_EQ(c.currentTime, CMTimeMake(0, 1000));
    EXPECT_EQ(c.result.firstFrameTime, CMTimeMake(0, 1000));
    EXPECT_EQ(c.result.frameDuration, CMTimeMake(30, 1000));
    EXPECT_FALSE(c.hasFrames());
    EXPECT_EQ(MotionDetectContext::motionGroupDistanceThreshold, 0.05);
}

TEST(MotionDetectContextTest, FirstComparisonIsOfFramesFourAndFiveAtFrameFivesTime) {
    kv::LogCapture log;
    MotionDetectContext c;
    for (int i = 0; i <= 4; ++i) c.addFrame(frameTime(i), kWidth, kHeight, movingFrame(i).data());
    EXPECT_EQ(log.count("Number of bounds: "), 0u);
    EXPECT_TRUE(c.result.motionBounds.empty());
    EXPECT_EQ(c.frameSel, 1);  // only frame 4 was copied

    c.addFrame(frameTime(5), kWidth, kHeight, movingFrame(5).data());
    EXPECT_EQ(log.count("Number of bounds: "), 1u);
    ASSERT_EQ(c.result.motionBounds.size(), 1u);
    const MotionBounds& sample = c.result.motionBounds[0];
    EXPECT_EQ(sample.time, frameTime(5));
    ASSERT_FALSE(sample.bounds.empty());
    // The box lies on the square (75..175 x 60..160 at frame 5, in pixels).
    const kv::Bounds& box = sample.bounds[0];
    EXPECT_GE(box.minX, 60.0 / kWidth);
    EXPECT_LE(box.maxX, 190.0 / kWidth);
    EXPECT_GE(box.minY, 50.0 / kHeight);
    EXPECT_LE(box.maxY, 170.0 / kHeight);
    EXPECT_GE(box.count, 200);
    EXPECT_EQ(log.count("analyzeFrames(): Appended result for time 5/30"), 1u);
    EXPECT_EQ(c.nextAnalyzedFrameNum, 6);
}

TEST(MotionDetectContextTest, BoxesLieOnTheSquaresOfTheLaterFrameLargestFirst) {
    // A large square moving 3 pixels right a frame below a small one moving
    // 2 pixels down: at frame 5 the large one covers columns 55..155 and
    // rows 110..210, the small one columns 200..250 and rows 35..85.
    auto frame = [](int i) {
        std::vector<float> pixels = frameWithSquare(kWidth, kHeight, 40 + 3 * i, 110, 100);
        kv::testing::paintSquare(pixels, kWidth, 200, 25 + 2 * i, 50);
        return pixels;
    };
    MotionDetectContext c;
    for (int i = 0; i <= 5; ++i) c.addFrame(frameTime(i), kWidth, kHeight, frame(i).data());
    ASSERT_EQ(c.result.motionBounds.size(), 1u);
    const std::vector<kv::Bounds>& boxes = c.result.motionBounds[0].bounds;
    ASSERT_EQ(boxes.size(), 2u);

    // Each box spans the scan points (every 5 pixels) that saw the square's
    // pattern move, in the single-precision fractions of the differencing.
    auto edge = [](int pixel, int size) { return double(float(pixel) / float(size)); };
    const struct {
        int minX, maxX, minY, maxY;
        int64_t count;
    } expected[] = {{60, 145, 120, 205, 17607}, {205, 250, 40, 70, 1458}};  // the larger first
    for (size_t k = 0; k < 2; ++k) {
        const auto& e = expected[k];
        EXPECT_EQ(boxes[k].minX, edge(e.minX, kWidth)) << k;
        EXPECT_EQ(boxes[k].maxX, edge(e.maxX, kWidth)) << k;
        EXPECT_EQ(boxes[k].minY, edge(e.minY, kHeight)) << k;
        EXPECT_EQ(boxes[k].maxY, edge(e.maxY, kHeight)) << k;
        EXPECT_EQ(boxes[k].count, e.count) << k;
    }
}

TEST(MotionDetectContextTest, MovingSquareGivesASampleEveryFifthFrame) {
    MotionDetectContext c;
    for (int i = 0; i < 21; ++i) c.addFrame(frameTime(i), kWidth, kHeight, movingFrame(i).data());
    ASSERT_EQ(c.result.motionBounds.size(), 4u);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(c.result.motionBounds[static_cast<size_t>(k)].time, frameTime(5 * (k + 1)));
    EXPECT_TRUE(kv::isSane(c.result));
    EXPECT_EQ(c.result.imageWidth, kWidth);
    EXPECT_EQ(c.result.imageHeight, kHeight);
}

TEST(MotionDetectContextTest, AnalyzeEveryOneComparesEachFrameWithTheOneBefore) {
    kv::LogCapture log;
    MotionDetectContext c;
    c.analyzeEvery = 1;
    for (int i = 0; i < 4; ++i) c.addFrame(frameTime(i), kWidth, kHeight, movingFrame(i).data());
    EXPECT_EQ(log.count("Number of bounds: "), 3u);
    EXPECT_EQ(c.result.motionBounds.size(), 3u);
}

TEST(MotionDetectContextTest, StillPairRemovesOnlyTheSampleOfExactlyItsTime) {
    kv::LogCapture log;
    MotionDetectContext c;
    c.result.motionBounds = {sampleAt(4, 30), sampleAt(5, 30), sampleAt(6, 30)};
    const auto still = flatFrame(kWidth, kHeight, 0.3f);
    for (int i = 0; i <= 5; ++i) c.addFrame(frameTime(i), kWidth, kHeight, still.data());
    ASSERT_EQ(c.result.motionBounds.size(), 2u);
    EXPECT_EQ(c.result.motionBounds[0].time, CMTimeMake(4, 30));
    EXPECT_EQ(c.result.motionBounds[1].time, CMTimeMake(6, 30));
    EXPECT_EQ(log.count("analyzeFrames(): Removed result for time 5/30"), 1u);
    EXPECT_EQ(log.count("Number of bounds: 0"), 1u);

    // Nothing at that time any more: a second still pair stores and logs nothing.
    log.clear();
    c.nextAnalyzedFrameNum = 0;
    for (int i = 0; i <= 5; ++i) c.addFrame(frameTime(i), kWidth, kHeight, still.data());
    EXPECT_EQ(c.result.motionBounds.size(), 2u);
    EXPECT_EQ(log.count("analyzeFrames()"), 0u);
}

TEST(MotionDetectContextTest, ResultsAreReplacedInsertedOrAppendedByTime) {
    kv::LogCapture log;
    MotionDetectContext c;
    // Stored samples in another timescale: 1/6 s equals 5/30 s.
    c.result.motionBounds = {sampleAt(1, 6), sampleAt(2, 6)};
    for (int i = 0; i <= 5; ++i) c.addFrame(frameTime(i), kWidth, kHeight, movingFrame(i).data());
    ASSERT_EQ(c.result.motionBounds.size(), 2u);
    EXPECT_EQ(c.result.motionBounds[0].time, frameTime(5));
    EXPECT_NE(c.result.motionBounds[0].bounds, sampleAt(1, 6).bounds);
    EXPECT_EQ(log.count("analyzeFrames(): Replaced existing result for time 5/30"), 1u);

    // An earlier time goes in front, out of arrival order.
    c.nextAnalyzedFrameNum = 0;
    for (int i = 0; i <= 5; ++i) c.addFrame(CMTimeMake(i, 60), kWidth, kHeight, movingFrame(i).data());
    ASSERT_EQ(c.result.motionBounds.size(), 3u);
    EXPECT_EQ(c.result.motionBounds[0].time, CMTimeMake(5, 60));
    EXPECT_EQ(log.count("analyzeFrames(): Added result at beginning or middle for time 5/60"), 1u);
    EXPECT_TRUE(kv::isSane(c.result));
}

TEST(MotionDetectContextTest, CleanupFreesFramesAndSamplesButKeepsTheRest) {
    MotionDetectContext c;
    for (int i = 0; i <= 5; ++i) c.addFrame(frameTime(i), kWidth, kHeight, movingFrame(i).data());
    c.result.frameDuration = CMTimeMake(1, 30);
    c.cleanup();
    EXPECT_FALSE(c.hasFrames());
    EXPECT_EQ(c.nextAnalyzedFrameNum, 0);
    EXPECT_TRUE(c.result.motionBounds.empty());
    EXPECT_EQ(c.result.frameDuration, CMTimeMake(1, 30));
    EXPECT_EQ(c.result.imageWidth, kWidth);
    EXPECT_EQ(c.currentTime, frameTime(5));
    EXPECT_EQ(c.nElems, kWidth * kHeight * 4);
}

TEST(MotionDetectContextTest, BuffersAreKeptWhileTheFrameAreaStaysTheSame) {
    MotionDetectContext c;
    c.allocateFrames(320, 240);
    ASSERT_TRUE(c.hasFrames());
    EXPECT_EQ(c.nElems, 320 * 240 * 4);
    c.allocateFrames(240, 320);
    EXPECT_EQ(c.nElems, 320 * 240 * 4);
    EXPECT_EQ(c.imageWidth, 240);
    EXPECT_EQ(c.result.imageHeight, 320);
    c.allocateFrames(640, 480);
    EXPECT_EQ(c.nElems, 640 * 480 * 4);
}

TEST(MotionDetectContextTest, PairAcrossAChangeOfFrameSizeIsNotCompared) {
    kv::LogCapture log;
    MotionDetectContext c;
    for (int i = 0; i <= 4; ++i) c.addFrame(frameTime(i), kWidth, kHeight, movingFrame(i).data());
    // Frame 5 comes in another size: the earlier slot holds no frame of that size.
    const auto bigger = frameWithSquare(400, 300, 80, 60, 100);
    c.addFrame(frameTime(5), 400, 300, bigger.data());
    EXPECT_EQ(log.count("Number of bounds: "), 0u);
    EXPECT_EQ(log.count("Skipped a pair without two frames of the current size at time 5/30"), 1u);
    EXPECT_TRUE(c.result.motionBounds.empty());

    // Same area, other shape: the buffers stay, but the pair is still not comparable.
    log.clear();
    MotionDetectContext d;
    for (int i = 0; i <= 4; ++i) d.addFrame(frameTime(i), kWidth, kHeight, movingFrame(i).data());
    const auto turned = flatFrame(kHeight, kWidth, 0.5f);
    d.addFrame(frameTime(5), kHeight, kWidth, turned.data());
    EXPECT_EQ(log.count("Number of bounds: "), 0u);
}

TEST(MotionDetectContextTest, PaddedRowsAreReadRowByRow) {
    MotionDetectContext packed, padded;
    const size_t rowFloats = kWidth * 4 + 16;  // 64 bytes of padding a row
    for (int i = 0; i <= 5; ++i) {
        const auto frame = movingFrame(i);
        std::vector<float> withPadding(rowFloats * kHeight, -1.0f);
        for (int r = 0; r < kHeight; ++r) {
            std::copy_n(&frame[static_cast<size_t>(r) * kWidth * 4], kWidth * 4, &withPadding[r * rowFloats]);
        }
        packed.addFrame(frameTime(i), kWidth, kHeight, frame.data());
        padded.addFrame(frameTime(i), kWidth, kHeight, withPadding.data(), rowFloats * sizeof(float));
    }
    ASSERT_EQ(packed.result.motionBounds.size(), 1u);
    EXPECT_EQ(padded.result.motionBounds, packed.result.motionBounds);
}

TEST(MotionDetectContextTest, UnusableFramesAreSkippedButCounted) {
    kv::LogCapture log;
    MotionDetectContext c;
    const auto frame = movingFrame(0);
    c.addFrame(frameTime(0), 0, kHeight, frame.data());
    c.addFrame(frameTime(1), int64_t{1} << 40, 8, frame.data());
    c.addFrame(frameTime(2), kWidth, kHeight, nullptr);
    c.addFrame(frameTime(3), kWidth, kHeight, frame.data(), 16);  // rows shorter than a row of pixels
    EXPECT_EQ(log.count("allocateFrames(): Unusable frame size 0x240"), 1u);
    EXPECT_EQ(log.count("allocateFrames(): Unusable frame size 1099511627776x8"), 1u);
    EXPECT_EQ(log.count("addFrame(): Skipped a frame without pixels"), 1u);
    EXPECT_EQ(log.count("addFrame(): Skipped a frame whose rows are shorter than its width"), 1u);
    EXPECT_EQ(c.nextAnalyzedFrameNum, 4);
    EXPECT_FALSE(c.hasFrames());
}

TEST(MotionDetectContextTest, SkippedFrameIsNeverStandInForItsPair) {
    kv::LogCapture log;
    MotionDetectContext c;
    c.result.motionBounds = {sampleAt(10, 30)};
    const auto still = flatFrame(kWidth, kHeight, 0.3f);
    for (int i = 0; i <= 10; ++i) c.addFrame(frameTime(i), kWidth, kHeight, i == 9 ? nullptr : still.data());
    // Frames 4 and 5 were compared; 9 was skipped, so 10 has nothing to be compared with.
    EXPECT_EQ(log.count("Number of bounds: "), 1u);
    EXPECT_EQ(log.count("Skipped a pair without two frames of the current size at time 10/30"), 1u);
    ASSERT_EQ(c.result.motionBounds.size(), 1u);
    EXPECT_EQ(c.result.motionBounds[0].time, frameTime(10));
}

TEST(MotionDetectContextTest, PositionSearchWalksBackFromAHintPastTheTarget) {
    kv::LogCapture log;
    MotionDetectContext c;
    c.result.motionBounds = {sampleAt(1, 1), sampleAt(2, 1), sampleAt(3, 1), sampleAt(4, 1)};
    c.nextResultIndex = 4;
    for (int i = 0; i <= 5; ++i) c.addFrame(CMTimeMake(2000 + i * 100, 1000), kWidth, kHeight, movingFrame(i).data());
    ASSERT_EQ(c.result.motionBounds.size(), 5u);
    EXPECT_EQ(c.result.motionBounds[2].time, CMTimeMake(2500, 1000));
    EXPECT_EQ(c.nextResultIndex, 2);
    EXPECT_EQ(log.count("analyzeFrames(): Added result at beginning or middle for time 2500/1000"), 1u);
    EXPECT_TRUE(kv::isSane(c.result));
}

TEST(MotionAnalysisOrderTest, IsSaneNeedsStrictlyIncreasingTimes) {
    kv::MotionAnalysis a;
    EXPECT_TRUE(kv::isSane(a));
    a.motionBounds = {sampleAt(1, 30)};
    EXPECT_TRUE(kv::isSane(a));
    a.motionBounds = {sampleAt(1, 30), sampleAt(1, 25), sampleAt(2, 30)};
    EXPECT_TRUE(kv::isSane(a));
    a.motionBounds = {sampleAt(1, 30), sampleAt(2, 60)};
    EXPECT_FALSE(kv::isSane(a));
    a.motionBounds = {sampleAt(2, 30), sampleAt(1, 30)};
    EXPECT_FALSE(kv::isSane(a));
}

TEST(MotionAnalysisOrderTest, RemoveResultsDropsTheHalfOpenRange) {
    kv::MotionAnalysis a;
    a.motionBounds = {sampleAt(1, 30), sampleAt(2, 30), sampleAt(3, 30), sampleAt(4, 30)};
    kv::removeResults(a, CMTimeMake(2, 30), CMTimeMake(2, 30));
    EXPECT_EQ(a.motionBounds.size(), 4u);
    kv::removeResults(a, CMTimeMake(4, 60), CMTimeMake(8, 60));
    ASSERT_EQ(a.motionBounds.size(), 2u);
    EXPECT_EQ(a.motionBounds[0].time, CMTimeMake(1, 30));
    EXPECT_EQ(a.motionBounds[1].time, CMTimeMake(4, 30));
}

TEST(MotionDetectContextTest, PrepareAnalysisSpansTheRangeAndTheStoredSamples) {
    MotionDetectContext c;
    c.prepareAnalysis(CMTimeRangeMake(CMTimeMake(30, 30), CMTimeMake(60, 30)));
    EXPECT_EQ(CMTimeCompare(c.result.firstFrameTime, CMTimeMake(1, 1)), 0);
    EXPECT_EQ(CMTimeCompare(c.result.lastFrameTime, CMTimeMake(3, 1)), 0);

    c.result.motionBounds = {sampleAt(5, 30), sampleAt(50, 30), sampleAt(120, 30)};
    c.prepareAnalysis(CMTimeRangeMake(CMTimeMake(30, 30), CMTimeMake(60, 30)));
    EXPECT_EQ(c.result.firstFrameTime, CMTimeMake(5, 30));
    EXPECT_EQ(c.result.lastFrameTime, CMTimeMake(120, 30));

    c.result.motionBounds = {sampleAt(50, 30)};
    c.prepareAnalysis(CMTimeRangeMake(CMTimeMake(30, 30), CMTimeMake(60, 30)));
    EXPECT_EQ(CMTimeCompare(c.result.firstFrameTime, CMTimeMake(30, 30)), 0);
    EXPECT_EQ(CMTimeCompare(c.result.lastFrameTime, CMTimeMake(90, 30)), 0);
}

}  // namespace
