// The real frame differencing against the plain reference, record by record,
// bit for bit, on each engine this CPU runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "analysis/frame_difference.h"
#include "tests/analysis/frame_difference_check.h"
#include "tests/analysis/frame_difference_frames.h"
#include "tests/analysis/frame_difference_literal.h"

namespace {

using fdcheck::expectSameAsReference;
using fdframes::Frame;

TEST(FrameDifferenceExactnessTest, FramesWithoutMotionGiveNoRecords) {
    const Frame textured = fdframes::texturedFrame(120, 90, 3);
    EXPECT_EQ(expectSameAsReference(textured, textured, "identical frames", true), 0u);
    const Frame grey = fdframes::uniformFrame(120, 90, 0.4f, 0.5f, 0.6f);
    EXPECT_EQ(expectSameAsReference(grey, fdframes::shifted(grey, 3, 1), "one uniform colour"), 0u);
    // Black second frame: no energy in place, so every point keeps (0, 0).
    const Frame black = fdframes::uniformFrame(120, 90, 0, 0, 0);
    EXPECT_EQ(expectSameAsReference(textured, black, "black second frame", true), 0u);
}

TEST(FrameDifferenceExactnessTest, NoiseAndSharpEdges) {
    const Frame noise = fdframes::noiseFrame(130, 100, 7);
    expectSameAsReference(noise, fdframes::noiseFrame(130, 100, 8), "unrelated noise", true);
    expectSameAsReference(noise, fdframes::withMovedPatch(noise, 30, 40, 50, 2, -1), "noise with a moved patch");
    const Frame blocks = fdframes::blocksFrame(130, 100, 9, 11);
    expectSameAsReference(blocks, fdframes::shifted(blocks, -4, 3), "shifted blocks", true);
    const Frame edges = fdframes::blocksFrame(130, 100, 23, 12);
    expectSameAsReference(edges, fdframes::withMovedPatch(edges, 20, 20, 60, 6, 5), "large blocks, moved patch");
}

TEST(FrameDifferenceExactnessTest, FullResultArrayKeepsTheFirstPointsInScanOrder) {
    // A frame textured all over and moved whole: more points pass than the
    // 10 x 9 records the array has room for.
    const Frame f1 = fdframes::texturedFrame(105, 98, 5);
    const Frame f2 = fdframes::shifted(f1, 2, -3);
    size_t passing = 0;
    literal::takeDifference(f1.data(), f2.data(), nullptr, f1.width, f1.height, &passing);
    EXPECT_GT(passing, 90u);
    EXPECT_EQ(expectSameAsReference(f1, f2, "textured frame moved whole", true), 90u);
    // The same on a frame large enough to be scanned on all cores, textured
    // and moved in its upper part only: 16 x 56 points there, room for 768.
    Frame large = fdframes::uniformFrame(320, 240, 0.5f, 0.5f, 0.5f);
    const Frame textured = fdframes::texturedFrame(320, 110, 6);
    std::copy(textured.pixels.begin(), textured.pixels.end(), large.pixels.begin());
    const Frame moved = fdframes::withMovedPatch(large, 0, 0, 320, -1, 2);
    EXPECT_EQ(expectSameAsReference(large, moved, "large frame moved in its upper part"), 768u);
}

TEST(FrameDifferenceExactnessTest, NotANumberAndInfiniteValues) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Frame f1 = fdframes::texturedFrame(110, 100, 21);
    Frame f2 = fdframes::withMovedPatch(f1, 25, 25, 50, 3, 2);
    for (int n = 0; n < 40; ++n) {
        const float bad[4] = {nan, inf, -inf, std::numeric_limits<float>::max()};
        f1.at((n * 37) % 100, (n * 53) % 110)[n % 3] = bad[n % 4];
        f2.at((n * 29) % 100, (n * 61) % 110)[(n + 1) % 3] = bad[(n + 2) % 4];
    }
    EXPECT_GT(expectSameAsReference(f1, f2, "scattered NaN and infinite values", true), 0u);
    expectSameAsReference(fdframes::uniformFrame(110, 100, nan, nan, nan), f2, "first frame all NaN");
    expectSameAsReference(f1, fdframes::uniformFrame(110, 100, inf, 0, -inf), "second frame infinite");
}

TEST(FrameDifferenceExactnessTest, SmallAndNarrowFrames) {
    for (const auto& [w, h] : {std::pair{40, 90}, {90, 40}, {41, 41}, {41, 90}, {90, 41}, {44, 46}, {46, 44}}) {
        const Frame f1 = fdframes::texturedFrame(w, h, 31);
        expectSameAsReference(f1, fdframes::shifted(f1, 1, 2), std::to_string(w) + "x" + std::to_string(h), true);
    }
}

TEST(FrameDifferenceExactnessTest, RealFootage) {
    struct Clip {
        const char* name;
        int32_t width, height, first;
    };
    // Scaled down to keep the reference quick; each is still scanned on all cores.
    for (const Clip& clip : {Clip{"vtest.avi", 384, 288, 100}, Clip{"cockatoo_yuv420.mp4", 640, 360, 100},
                             Clip{"box.mp4", 320, 240, 125}}) {
        const auto frames =
            fdframes::decodeFootage(fdframes::footagePath(clip.name), clip.width, clip.height, 6, clip.first);
        if (!frames) GTEST_SKIP() << "ffmpeg or " << clip.name << " missing";
        const std::string what = clip.name;
        const size_t near = expectSameAsReference((*frames)[0], (*frames)[1], what + " consecutive frames", true);
        const size_t far = expectSameAsReference((*frames)[0], (*frames)[5], what + " five frames apart");
        EXPECT_GT(near + far, 0u) << what << ": no motion found";
    }
}

// A textured patch moved by every shift from -12 to +12 pixels in each
// direction; one test per row shift.
class FrameDifferenceShiftTest : public ::testing::TestWithParam<int> {};

TEST_P(FrameDifferenceShiftTest, MovedTexturedPatch) {
    const int dy = GetParam();
    const Frame f1 = fdframes::texturedFrame(60, 62, 41);
    for (int dx = -12; dx <= 12; dx += fdcheck::kSanitized ? 3 : 1) {
        const Frame f2 = fdframes::withMovedPatch(f1, 10, 10, 42, dx, dy);
        expectSameAsReference(f1, f2, "shift " + std::to_string(dx) + "," + std::to_string(dy), (dx + dy) % 4 == 0);
        // No shift below -10 pixels is ever reached.
        for (const MotionOffsetTile& t : fdcheck::realRecords(f1, f2)) {
            EXPECT_GE(std::lround(t.dx * 60), -10);
            EXPECT_GE(std::lround(t.dy * 62), -10);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RowShifts, FrameDifferenceShiftTest, ::testing::Range(-12, 13));

}  // namespace
