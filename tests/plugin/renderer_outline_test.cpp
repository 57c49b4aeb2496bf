#include <gtest/gtest.h>

#include "plugin/renderer.h"
#include "render_test_support.h"

namespace kv {
namespace {

using test::croppedState;
using test::RenderTest;

// 160 × 90 source and destination; the thickness is 10 pixels.
constexpr double kWidth = 160, kHeight = 90, kThickness = 10;

TEST_F(RenderTest, ExamOutlinesLieOnTheBoxTheCropAndTheBlendedWindows) {
    // Crop centre (0.5, 0.35), scale 3; a frame mix of 0.5 blends it to
    // centre (0.5, 0.425), scale 2. Source and target are both 16:9, so
    // the target-aspect parts are the windows themselves.
    PluginState state = croppedState(0.5);
    state.renderMode = RenderMode::Exam;
    ASSERT_TRUE(render(source(160, 90), test::stateData(state)).succeeded);
    const auto& pass = onlyPass();
    const double third = 1.0 / 3.0, sixth = 1.0 / 6.0;
    test::expectWindows(test::outlineWindows(pass, kWidth, kHeight, kThickness),
                        {{0.02, 0.1, 0.98, 0.55},                                   // grey motion box
                         {third, 0.35 - sixth, 2 * third, 0.35 + sixth},            // yellow crop window
                         {third, 0.35 - sixth, 2 * third, 0.35 + sixth},            // and its target part
                         {0.25, 0.175, 0.75, 0.675},                                // orange blended window
                         {0.25, 0.175, 0.75, 0.675}});                              // and its target part

    // Each outline sets its drawing mode, its colour and its vertices, then
    // draws them as triangles.
    std::vector<std::string> tail;
    bool quadDrawn = false;
    for (const auto& command : pass.commands) {
        if (const auto* draw = std::get_if<metal::Draw>(&command)) {
            if (quadDrawn) {
                tail.push_back("draw " + std::to_string(draw->primitiveType) + " " + std::to_string(draw->vertexStart) +
                               " " + std::to_string(draw->vertexCount));
            }
            quadDrawn = true;
        } else if (const auto* set = std::get_if<metal::SetBytes>(&command); set && quadDrawn) {
            tail.push_back((set->stage == MTLFunctionTypeVertex ? "v" : "f") + std::to_string(set->index) + ":" +
                           std::to_string(set->bytes.size()));
        } else if (quadDrawn) {
            tail.push_back("other");
        }
    }
    std::vector<std::string> expected{"f2:4"};
    for (int i = 0; i < 5; ++i) {
        expected.insert(expected.end(),
                        {"f0:2", "f1:16", "v0:384", "draw " + std::to_string(MTLPrimitiveTypeTriangle) + " 0 24"});
    }
    EXPECT_EQ(tail, expected);
    const auto modes = test::blocksSet(pass, MTLFunctionTypeFragment, kFragmentArgumentDrawingMode);
    for (size_t i = 0; i < modes.size(); ++i) {
        EXPECT_EQ(test::elementsOf<uint16_t>(modes[i]), std::vector<uint16_t>{uint16_t(i == 0 ? 0 : 1)});
    }
}

TEST_F(RenderTest, ATargetWiderThanTheSourceKeepsTheWidthOfEachWindow) {
    // A 4:3 source with a 16:9 target: the parts keep the width and take
    // (4/3) / (16/9) = 0.75 of the height, about the same centre. With a
    // frame mix of 0 the blended window is the whole frame.
    PluginState state = croppedState(0.0);
    state.renderMode = RenderMode::Exam;
    ASSERT_TRUE(render(source(120, 90), test::stateData(state)).succeeded);
    const auto windows = test::outlineWindows(onlyPass(), 120, 90, kThickness);
    ASSERT_EQ(windows.size(), 5u);
    test::expectWindows({windows[3], windows[4]}, {{0, 0, 1, 1}, {0, 0.125, 1, 0.875}});
    const auto [x0, y0, x1, y1] = windows[1];
    const double middle = (y0 + y1) * 0.5, half = (y1 - y0) * 0.75 * 0.5;
    test::expectWindows({windows[2]}, {{x0, middle - half, x1, middle + half}});
}

TEST_F(RenderTest, NormalModeMapsBothEdgesOfGreenAndBlueOutlinesIntoTheOutput) {
    // Blended centre (0.5, 0.425), scale 2: v ↦ (v − 0.5)·2 + 0.5 across,
    // v ↦ (v − 0.425)·2 + 0.5 down.
    PluginState state = croppedState(0.5);
    state.showBounds = true;
    state.processedBounds.bounds.push_back(Bounds{0.5, 0.5, 0.5 + 3e-6, 0.5 + 5e-7, 1});  // area 1.5e-12: drawn
    state.processedBounds.bounds.push_back(Bounds{0.5, 0.5, 0.5 + 1e-6, 0.5 + 9e-7, 1});  // area 0.9e-12: skipped
    state.motion.bounds = {Bounds{0.45, 0.32, 0.55, 0.38, 9}};
    ASSERT_TRUE(render(source(160, 90), test::stateData(state)).succeeded);
    const auto& pass = onlyPass();
    EXPECT_EQ(test::outlineColors(pass),
              (std::vector<std::array<float, 4>>{{0, 1, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}}));
    test::expectWindows(test::outlineWindows(pass, kWidth, kHeight, kThickness),
                        {{0.3, 0.25, 0.7, 0.45}, {0.5, 0.65, 0.5 + 6e-6, 0.65 + 1e-6}, {0.4, 0.29, 0.6, 0.41}});
    EXPECT_TRUE(matchesReference());
}

}  // namespace
}  // namespace kv
