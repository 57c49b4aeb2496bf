#include <gtest/gtest.h>

#include "analysis_test_support.h"
#include "commit_recorder.h"
#include "host/frame_render.h"
#include "plugin/parameter_set.h"
#include "plugin/shader_types.h"

namespace kv {
namespace {

using RenderEndToEndTest = test::AnalysisTest;

// The host analyses a clip, asks for a frame's state and renders the frame
// with it: the render zooms in on the moving square.
TEST_F(RenderEndToEndTest, AnAnalysedClipRendersThroughItsFrameState) {
    const test::MovingSquareClip clip(192, 108, 90);
    ASSERT_TRUE(runWholeClip(clip).started);
    ASSERT_TRUE(instance->document().setBoolValue(param::enable, true));
    const CMTime time = CMTimeMake(45, 30);
    std::optional<NSData> state;
    ASSERT_TRUE(plugin->pluginState(&state, time, kFxQuality_HIGH, nullptr));
    ASSERT_TRUE(state);

    test::CommitRecorder recorder;
    const auto outcome = host::renderFrame(*instance->effect(),
                                           host::makeFrameSurface(clip.frame(45), kCVPixelFormatType_128RGBAFloat),
                                           kCVPixelFormatType_128RGBAFloat, state, time);
    ASSERT_TRUE(outcome.succeeded) << outcome.error.localizedDescription;
    ASSERT_EQ(recorder.passes.size(), 1u);
    const auto& pass = recorder.passes[0];
    EXPECT_EQ(test::packedPixels(*pass.colorAttachment.texture), test::referenceRender(pass, recorder.before[0]));
    for (const auto& command : pass.commands) {
        const auto* set = std::get_if<metal::SetBytes>(&command);
        if (!set || set->stage != MTLFunctionTypeVertex || set->index != kVertexArgumentVertices) continue;
        RenderVertex corner[2];
        std::memcpy(corner, set->bytes.data(), sizeof(corner));
        EXPECT_LT(corner[0].textureCoordinate[0] - corner[1].textureCoordinate[0], 1.0f);  // zoomed in
        break;
    }
    EXPECT_EQ(counter()->lock().usage.renderedFrames.count, 1);
}

}  // namespace
}  // namespace kv
