// The edges of the reframed image: a crop window flush with an edge of the
// source shows that edge's own pixels, and only the part of a window that
// overhangs the source is transparent. Checked against pixels worked out by
// hand from the pattern, whose red is column / width and green row / height,
// so that any filtered sample of it is that linear function at the sampled
// point.
#include <gtest/gtest.h>

#include <algorithm>

#include "render_test_support.h"

namespace kv {
namespace {

using test::RenderTest;

constexpr int64_t kWidth = 96;
constexpr int64_t kHeight = 54;

struct EdgeCase {
    const char* name;
    Bounds bounds;
    double aspectWidth, aspectHeight;
    double windowX0, windowY0;  // the crop window's low corner, from the crop rules, at scale 3
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class RenderEdgeTest : public RenderTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(RenderEdgeTest, BorderPixelsShowTheSourceClampedToItsEdgesAndNothingBeyondIt) {
    const EdgeCase& c = GetParam();
    PluginState state = test::croppedState(1.0);
    state.processedBounds.bounds = {c.bounds};
    state.config.aspectRatioWidth = c.aspectWidth;
    state.config.aspectRatioHeight = c.aspectHeight;
    ASSERT_TRUE(render(source(kWidth, kHeight), test::stateData(state)).succeeded);
    const auto output = host::readFrameSurface(*recorder.passes.back().colorAttachment.texture->iosurface());

    // Destination pixel (x, y) shows the source point at scale 3 from the
    // window's corner; in texel-centre units that is (x + 0.5) / 3 − 0.5 on.
    const auto check = [&](int64_t x, int64_t y) {
        const double u = c.windowX0 + (double(x) + 0.5) / (3.0 * double(kWidth));
        const double v = c.windowY0 + (double(y) + 0.5) / (3.0 * double(kHeight));
        const float* pixel = &output.rgba[size_t((y * kWidth + x) * 4)];
        if (std::min(std::abs(u - 1.0), std::abs(v - 1.0)) < 1e-4) return;  // too close to call
        if (u > 1.0 || v > 1.0 || u < 0.0 || v < 0.0) {
            EXPECT_EQ(pixel[0], 0.0f) << x << "," << y;
            EXPECT_EQ(pixel[3], 0.0f) << x << "," << y;
            return;
        }
        const double column = std::clamp(u * kWidth - 0.5, 0.0, double(kWidth - 1));
        const double row = std::clamp(v * kHeight - 0.5, 0.0, double(kHeight - 1));
        EXPECT_NEAR(pixel[0], column / kWidth, 2e-5) << x << "," << y;
        EXPECT_NEAR(pixel[1], row / kHeight, 2e-5) << x << "," << y;
        EXPECT_NEAR(pixel[3], 1.0f, 1e-6) << x << "," << y;
    };
    for (int64_t x = 0; x < kWidth; ++x) {
        check(x, 0);
        check(x, kHeight - 1);
    }
    for (int64_t y = 0; y < kHeight; ++y) {
        check(0, y);
        check(kWidth - 1, y);
    }
    EXPECT_TRUE(matchesReference());
}

// Small motion boxes at each edge: the window of a third of the frame is
// moved back inside, flush with that edge. The last case has a portrait
// target, whose margin lets the window overhang the right edge (it ends
// at x = 1.1067).
INSTANTIATE_TEST_SUITE_P(
    Windows, RenderEdgeTest,
    ::testing::Values(EdgeCase{"Left", Bounds{0.0, 0.45, 0.05, 0.55, 50}, 1920, 1080, 0.0, 1.0 / 3.0},
                      EdgeCase{"Right", Bounds{0.95, 0.45, 1.0, 0.55, 50}, 1920, 1080, 2.0 / 3.0, 1.0 / 3.0},
                      EdgeCase{"Top", Bounds{0.45, 0.0, 0.55, 0.05, 50}, 1920, 1080, 1.0 / 3.0, 0.0},
                      EdgeCase{"Bottom", Bounds{0.45, 0.95, 0.55, 1.0, 50}, 1920, 1080, 1.0 / 3.0, 2.0 / 3.0},
                      EdgeCase{"Overhanging", Bounds{0.9, 0.8, 0.98, 0.95, 50}, 1080, 1920, 0.94 - 1.0 / 6.0,
                               2.0 / 3.0}),
    [](const ::testing::TestParamInfo<EdgeCase>& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kv
