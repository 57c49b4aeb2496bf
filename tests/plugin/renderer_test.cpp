#include <gtest/gtest.h>

#include <limits>

#include "plugin/metal_device_cache.h"
#include "plugin/renderer.h"
#include "render_test_support.h"

namespace kv {
namespace {

using test::croppedState;
using test::RenderTest;

constexpr std::array<float, 4> kGreen{0, 1, 0, 1}, kBlue{0, 0, 1, 1}, kGrey{0.5f, 0.5f, 0.5f, 1},
    kYellow{1, 1, 0, 1}, kOrange{1, 0.5f, 0, 1};

// The quad's texture coordinates, corner by corner, as (u, v) pairs.
std::vector<std::array<float, 2>> quadCoordinates(const metal::RenderPass& pass) {
    std::vector<std::array<float, 2>> coordinates;
    const auto blocks = test::blocksSet(pass, MTLFunctionTypeVertex, kVertexArgumentVertices);
    if (blocks.empty()) return coordinates;
    for (const RenderVertex& v : test::elementsOf<RenderVertex>(blocks.front())) {
        coordinates.push_back({v.textureCoordinate[0], v.textureCoordinate[1]});
    }
    return coordinates;
}

void expectWindow(const metal::RenderPass& pass, double ux, double uy, double t) {
    const auto c = quadCoordinates(pass);
    ASSERT_EQ(c.size(), 4u);
    const std::array<std::array<double, 2>, 4> expected{{{ux + t, uy + t}, {ux - t, uy + t}, {ux + t, uy - t}, {ux - t, uy - t}}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(c[i][0], expected[i][0], 1e-6) << i;
        EXPECT_NEAR(c[i][1], expected[i][1], 1e-6) << i;
    }
}

TEST_F(RenderTest, WithoutStateNothingIsDrawnOrCounted) {
    const auto outcome = render(source(32, 18), std::nullopt);
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(log.count("No plugin state; not rendering"), 1u);
    EXPECT_TRUE(recorder.passes.empty());
    EXPECT_EQ(usage().renderedFrames.count, 0);
    EXPECT_EQ(test::packedPixels(*MTLTexture::overSurface(
                  MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormatRGBA32Float, 32, 18), outcome.destination, 0)),
              std::vector<uint8_t>(32 * 18 * 16, 0));
}

TEST_F(RenderTest, StateThatDoesNotDecodeFailsTheRenderWithItsError) {
    for (const char* text : {"", "{}", "not json", "{\"enable\": true}"}) {
        const auto outcome = render(source(32, 18), dataFromText(text));
        EXPECT_FALSE(outcome.succeeded) << text;
        EXPECT_EQ(outcome.error.domain, kKestrelvantageErrorDomain);
        EXPECT_FALSE(outcome.error.localizedDescription.empty());
    }
    EXPECT_TRUE(recorder.passes.empty());
    EXPECT_EQ(usage(), Counter::UsageCount{});
}

TEST_F(RenderTest, TheQuadsArgumentsAreSetInTheirOrderWithTheirValues) {
    PluginState state = croppedState(0.5);
    state.config.sensorSize = 36;
    state.config.focalLength = 24;
    state.config.brightness = 1.25;
    ASSERT_TRUE(render(source(64, 36), test::stateData(state)).succeeded);
    const auto& pass = onlyPass();
    EXPECT_EQ(recorder.labels, std::vector<std::string>{"Kestrelvantage Command Buffer"});
    EXPECT_EQ(pass.colorAttachment.loadAction, MTLLoadActionClear);
    EXPECT_EQ(pass.colorAttachment.clearColor, MTLClearColorMake(1.0, 0.5, 0.0, 1.0));

    // Kinds, stages and indices in order, up to the quad's draw and the
    // brightness reset after it.
    std::vector<std::string> sequence;
    for (const auto& command : pass.commands) {
        if (std::holds_alternative<metal::SetViewport>(command)) sequence.push_back("viewport");
        if (std::holds_alternative<metal::SetPipelineState>(command)) sequence.push_back("pipeline");
        if (const auto* set = std::get_if<metal::SetBytes>(&command)) {
            sequence.push_back((set->stage == MTLFunctionTypeVertex ? "v" : "f") + std::to_string(set->index) + ":" +
                               std::to_string(set->bytes.size()));
        }
        if (const auto* set = std::get_if<metal::SetTexture>(&command)) sequence.push_back("t" + std::to_string(set->index));
        if (std::holds_alternative<metal::Draw>(command)) sequence.push_back("draw");
    }
    EXPECT_EQ(sequence, (std::vector<std::string>{"viewport", "pipeline", "v0:64", "v1:8", "f3:8", "v3:8", "v2:8",
                                                  "f4:4", "f5:4", "f6:4", "f7:8", "t0", "f0:2", "f2:4", "draw",
                                                  "f2:4"}));
    const auto& viewport = std::get<metal::SetViewport>(pass.commands[0]).viewport;
    EXPECT_EQ(viewport, (MTLViewport{0, 0, 64, 36, -1, 1}));
    EXPECT_EQ(std::get<metal::SetPipelineState>(pass.commands[1]).state->colorPixelFormat(), MTLPixelFormatRGBA32Float);

    const auto value = [&](MTLFunctionType stage, NSUInteger index, size_t nth = 0) {
        return test::blocksSet(pass, stage, index).at(nth);
    };
    EXPECT_EQ(test::elementsOf<uint32_t>(value(MTLFunctionTypeVertex, 1)), (std::vector<uint32_t>{64, 36}));
    EXPECT_EQ(test::elementsOf<uint32_t>(value(MTLFunctionTypeFragment, 3)), (std::vector<uint32_t>{64, 36}));
    EXPECT_EQ(test::elementsOf<float>(value(MTLFunctionTypeVertex, 2)), (std::vector<float>{0, 0}));
    EXPECT_EQ(test::elementsOf<float>(value(MTLFunctionTypeVertex, 3)), (std::vector<float>{1, 1}));
    EXPECT_EQ(test::elementsOf<float>(value(MTLFunctionTypeFragment, 4)), std::vector<float>{36});
    EXPECT_EQ(test::elementsOf<float>(value(MTLFunctionTypeFragment, 5)), std::vector<float>{24});
    // Blended window: centre (0.5, 0.425), scale 2, so t = 0.25.
    EXPECT_EQ(test::elementsOf<float>(value(MTLFunctionTypeFragment, 6)), std::vector<float>{24.0f * 0.5f / 0.25f});
    const auto centre = test::elementsOf<float>(value(MTLFunctionTypeFragment, 7));
    EXPECT_NEAR(centre[0], 0.5, 1e-6);
    EXPECT_NEAR(centre[1], 0.425, 1e-6);
    EXPECT_EQ(test::elementsOf<uint16_t>(value(MTLFunctionTypeFragment, 0)), std::vector<uint16_t>{0});
    EXPECT_EQ(test::elementsOf<float>(value(MTLFunctionTypeFragment, 2, 0)), std::vector<float>{1.25f});
    EXPECT_EQ(test::elementsOf<float>(value(MTLFunctionTypeFragment, 2, 1)), std::vector<float>{1.0f});
    expectWindow(pass, 0.5, 0.425, 0.25);

    const auto quad = test::elementsOf<RenderVertex>(value(MTLFunctionTypeVertex, 0));
    const std::array<std::array<float, 2>, 4> positions{{{32, -18}, {-32, -18}, {32, 18}, {-32, 18}}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(quad[i].position[0], positions[i][0]);
        EXPECT_EQ(quad[i].position[1], positions[i][1]);
    }
    const auto draws = test::drawsOf(pass);
    ASSERT_EQ(draws.size(), 1u);  // no outline asked for
    EXPECT_EQ(draws[0].primitiveType, MTLPrimitiveTypeTriangleStrip);
    EXPECT_EQ(draws[0].vertexStart, 0u);
    EXPECT_EQ(draws[0].vertexCount, 4u);
    EXPECT_TRUE(matchesReference());
}

TEST_F(RenderTest, FrameMixChoosesBetweenTheWholeFrameAndTheCropWindow) {
    ASSERT_TRUE(render(source(64, 36), test::stateData(croppedState(0.0))).succeeded);
    expectWindow(recorder.passes.back(), 0.5, 0.5, 0.5);
    ASSERT_TRUE(render(source(64, 36), test::stateData(croppedState(1.0))).succeeded);
    expectWindow(recorder.passes.back(), 0.5, 0.35, 0.5 / 3.0);  // the crop window itself
    EXPECT_TRUE(matchesReference());
}

TEST_F(RenderTest, ACropWindowShowsThatPartOfTheSource) {
    // Scale 3 around (0.5, 0.35) of a 192 × 108 source into the same size:
    // destination pixel (x, y) shows source point ((x + 0.5) / 3 + 64, (y + 0.5) / 3 + 19.8).
    const auto frame = test::patternFrame(192, 108);
    ASSERT_TRUE(render(host::makeFrameSurface(frame, kCVPixelFormatType_128RGBAFloat), test::stateData(croppedState(1.0))).succeeded);
    const auto output = host::readFrameSurface(*recorder.passes.back().colorAttachment.texture->iosurface());
    for (int64_t y = 10; y < 100; y += 9) {
        for (int64_t x = 10; x < 180; x += 17) {
            const double sx = (double(x) + 0.5) / 3.0 + 64.0 - 0.5;  // in texel centres
            EXPECT_NEAR(output.rgba[size_t((y * 192 + x) * 4)], sx / 192.0, 2e-4) << x << "," << y;
            const double sy = (double(y) + 0.5) / 3.0 + 0.35 * 108.0 - 18.0 - 0.5;
            EXPECT_NEAR(output.rgba[size_t((y * 192 + x) * 4 + 1)], sy / 108.0, 2e-4) << x << "," << y;
        }
    }
}

TEST_F(RenderTest, EmptyFirstBoundsShowTheWholeFrame) {
    const std::vector<std::vector<Bounds>> cases{
        {}, {Bounds{0.4, 0.3, 0.6, 0.4, 0}}, {Bounds{0, 0, 0, 0, 9}}, {Bounds{0.4, 0.3, 0.4009, 0.4, 9}},
        {Bounds{0.4, 0.3, 0.6, 0.3005, 9}}};
    for (const auto& bounds : cases) {
        PluginState state = croppedState(1.0);
        state.processedBounds.bounds = bounds;
        ASSERT_TRUE(render(source(32, 18), test::stateData(state)).succeeded);
        expectWindow(recorder.passes.back(), 0.5, 0.5, 0.5);
    }
}

TEST_F(RenderTest, ExamModeShowsTheWholeFrameWithEveryOutlineInOrder) {
    PluginState state = croppedState(0.5);
    state.renderMode = RenderMode::Exam;
    state.showBounds = true;
    state.processedBounds.bounds.push_back(Bounds{0.2, 0.2, 0.2, 0.7, 3});  // no area: no green outline
    state.motion.bounds = {Bounds{0.1, 0.1, 0.3, 0.3, 5}, Bounds{0.5, 0.5, 0.5, 0.5, 1}};
    ASSERT_TRUE(render(source(160, 90), test::stateData(state)).succeeded);
    const auto& pass = onlyPass();
    expectWindow(pass, 0.5, 0.5, 0.5);
    EXPECT_EQ(test::outlineColors(pass),
              (std::vector<std::array<float, 4>>{kGreen, kBlue, kBlue, kGrey, kYellow, kYellow, kOrange, kOrange}));
    const auto draws = test::drawsOf(pass);
    ASSERT_EQ(draws.size(), 9u);
    for (size_t i = 1; i < draws.size(); ++i) {
        EXPECT_EQ(draws[i].primitiveType, MTLPrimitiveTypeTriangle);
        EXPECT_EQ(draws[i].vertexCount, 24u);
    }
    EXPECT_EQ(test::blocksSet(pass, MTLFunctionTypeFragment, kFragmentArgumentDrawingMode).size(), 9u);
    // Exam outlines are drawn as they are: the grey motion box's top bar lies
    // at y = 0.55 of the frame (its larger y).
    const auto vertexBlocks = test::blocksSet(pass, MTLFunctionTypeVertex, kVertexArgumentVertices);
    const auto grey = test::elementsOf<RenderVertex>(vertexBlocks.at(4));
    EXPECT_FLOAT_EQ(grey[1].position[1], 45.0f - 90.0f * 0.55f - 5.0f);
    EXPECT_FLOAT_EQ(grey[1].position[0], 160.0f * 0.02f - 80.0f - 5.0f);
    EXPECT_EQ(usage().showExam.count, 1);
    EXPECT_EQ(usage().showBounds.count, 1);
    EXPECT_TRUE(matchesReference());
}

TEST_F(RenderTest, TargetAspectPartsOfTheWindowsInExamMode) {
    PluginState state = croppedState(1.0);
    state.renderMode = RenderMode::Exam;
    state.config.aspectRatioWidth = 1080;  // portrait target on a landscape source
    state.config.aspectRatioHeight = 1920;
    ASSERT_TRUE(render(source(160, 90), test::stateData(state)).succeeded);
    const auto blocks = test::blocksSet(onlyPass(), MTLFunctionTypeVertex, kVertexArgumentVertices);
    ASSERT_EQ(blocks.size(), 6u);
    const auto crop = test::elementsOf<RenderVertex>(blocks[2]);
    const auto part = test::elementsOf<RenderVertex>(blocks[3]);
    // The bar at y1 spans x0 − h ... x1 + h; the part keeps the height and
    // narrows the width by (1080/1920) / (16/9).
    const float cropWidth = crop[0].position[0] - crop[1].position[0] - 10.0f;
    const float partWidth = part[0].position[0] - part[1].position[0] - 10.0f;
    EXPECT_NEAR(partWidth, cropWidth * (1080.0 / 1920.0) / (160.0 / 90.0), 1e-3);
    EXPECT_FLOAT_EQ(part[0].position[1], crop[0].position[1]);
}

TEST_F(RenderTest, NormalModeBoundsOutlinesFollowTheBlendedWindow) {
    PluginState state = croppedState(1.0);
    state.showBounds = true;
    state.motion.bounds = {Bounds{0.45, 0.32, 0.55, 0.38, 9}};
    ASSERT_TRUE(render(source(160, 90), test::stateData(state)).succeeded);
    const auto& pass = onlyPass();
    EXPECT_EQ(test::outlineColors(pass), (std::vector<std::array<float, 4>>{kGreen, kBlue}));
    // The blue box maps to x (0.45 − 0.5)·3 + 0.5 = 0.35 ... 0.65 of the output.
    const auto blue = test::elementsOf<RenderVertex>(test::blocksSet(pass, MTLFunctionTypeVertex, 0).at(2));
    EXPECT_NEAR(blue[1].position[0], 160.0 * 0.35 - 80.0 - 5.0, 1e-3);
    EXPECT_NEAR(blue[0].position[0], 160.0 * 0.65 - 80.0 + 5.0, 1e-3);
    EXPECT_TRUE(matchesReference());
}

TEST_F(RenderTest, DisabledDrawsOnlyTheWholeFrameButCountsEverything) {
    PluginState state = croppedState(1.0);
    state.enable = false;
    state.renderMode = RenderMode::Exam;
    state.showBounds = true;
    state.motion.bounds = {Bounds{0.1, 0.1, 0.3, 0.3, 5}};
    state.config.brightness = 0.5;
    ASSERT_TRUE(render(source(64, 36), test::stateData(state)).succeeded);
    const auto& pass = onlyPass();
    EXPECT_EQ(test::drawsOf(pass).size(), 1u);
    expectWindow(pass, 0.5, 0.5, 0.5);
    EXPECT_EQ(test::elementsOf<float>(test::blocksSet(pass, MTLFunctionTypeFragment, 2).at(0)), std::vector<float>{0.5f});
    EXPECT_EQ(test::blocksSet(pass, MTLFunctionTypeFragment, kFragmentArgumentFocalLength).size(), 1u);
    EXPECT_EQ(usage().showExam.count, 1);
    EXPECT_EQ(usage().showBounds.count, 1);
    EXPECT_EQ(usage().renderedFrames.count, 1);
    EXPECT_TRUE(matchesReference());
}

TEST_F(RenderTest, ResolutionsAreLoggedAndCounted) {
    ASSERT_TRUE(render(source(1920, 1080), test::stateData(test::normalState())).succeeded);
    EXPECT_EQ(log.count("Render, 1920x1080 => 1920x1080"), 1u);
    const auto counted = usage();
    EXPECT_EQ(counted.sourceResolution.tried, (std::map<std::string, int64_t, std::less<>>{{"1920x1080", 1}}));
    EXPECT_EQ(counted.destinationResolution.lastStr, "1920x1080");
    EXPECT_EQ(counted.bothResolutionMapping.lastStr, "1920x1080=>1920x1080");
    EXPECT_EQ(counted.renderScale.lastFlt, 1.0f);
    EXPECT_EQ(counted.renderedFrames.count, 1);
    EXPECT_EQ(counted.showExam.count, 0);
}

TEST_F(RenderTest, AHalfScalePixelTransformDrawsFivePixelOutlines) {
    PluginState state = test::normalState();
    state.renderMode = RenderMode::Exam;
    ASSERT_TRUE(render(source(100, 50), test::stateData(state), kCVPixelFormatType_128RGBAFloat,
                       FxMatrix44::scale(0.5, 0.5))
                    .succeeded);
    const auto bar = test::elementsOf<RenderVertex>(test::blocksSet(onlyPass(), MTLFunctionTypeVertex, 0).at(1));
    EXPECT_FLOAT_EQ(bar[2].position[1] - bar[0].position[1], 5.0f);
    EXPECT_EQ(usage().renderScale.lastFlt, 0.5f);
}

TEST_F(RenderTest, EachDestinationFormatGetsItsPipelineAndMatchesTheReference) {
    const std::vector<std::pair<OSType, MTLPixelFormat>> formats{{kCVPixelFormatType_32BGRA, MTLPixelFormatBGRA8Unorm},
                                                                 {kCVPixelFormatType_128RGBAFloat, MTLPixelFormatRGBA32Float},
                                                                 {kCVPixelFormatType_64RGBAHalf, MTLPixelFormatRGBA16Float}};
    PluginState state = croppedState(0.7);
    state.showBounds = true;
    state.motion.bounds = {Bounds{0.3, 0.2, 0.7, 0.6, 9}};
    for (const auto& [surfaceFormat, pixelFormat] : formats) {
        ASSERT_TRUE(render(source(161, 91, surfaceFormat), test::stateData(state), surfaceFormat).succeeded);
        EXPECT_EQ(std::get<metal::SetPipelineState>(recorder.passes.back().commands[1]).state->colorPixelFormat(),
                  pixelFormat);
        EXPECT_TRUE(matchesReference()) << surfaceFormat;
    }
    EXPECT_EQ(renderPixelFormat(fourCharCode("L008")), MTLPixelFormatRGBA16Float);
}

TEST_F(RenderTest, RenderSpeedIsTheReciprocalOfTheWholeMilliseconds) {
    std::mutex mutex;
    std::deque<double> times;
    const ScopedOverride clock(setDateSource, [&] {
        std::lock_guard hold(mutex);
        const double now = times.front();
        if (times.size() > 1) times.pop_front();
        return NSDate{now};
    });
    const auto renderAt = [&](double start, double end) {
        times = {start, end};
        EXPECT_TRUE(render(source(16, 9), test::stateData(test::normalState())).succeeded);
    };
    renderAt(1000.0, 1000.0405);
    EXPECT_EQ(performance().renderSpeedFps.lastFlt, float(1.0 / 40.0));
    renderAt(2000.0, 2000.0009);  // 0 whole milliseconds
    renderAt(3000.0, 2999.0);     // the clock set back
    EXPECT_EQ(performance().renderSpeedFps.lastFlt, float(1.0 / 40.0));
    EXPECT_EQ(performance().renderSpeedFps.firstFlt, float(1.0 / 40.0));
}

TEST_F(RenderTest, TheOutputAndSourceTileRectanglesAreTheHostsOwn) {
    const auto tile = host::makeFullFrameTile(source(20, 10));
    const FxImageTile destination(nullptr, FxRect{-4, -2, 36, 18}, FxRect{0, 0, 8, 8}, kSoftwareGPURegistryID, FxMatrix44());
    FxRect rect;
    EXPECT_TRUE(plugin->destinationImageRect(&rect, {tile}, destination, nullptr, CMTimeMake(0, 1), nullptr));
    EXPECT_EQ(rect, (FxRect{-4, -2, 36, 18}));
    for (uint32_t index : {0u, 3u}) {
        EXPECT_TRUE(plugin->sourceTileRect(&rect, index, {tile}, FxRect{1, 2, 3, 4}, destination, nullptr,
                                           CMTimeMake(0, 1), nullptr));
        EXPECT_EQ(rect, (FxRect{1, 2, 3, 4}));
    }
}

TEST(OutlineVerticesTest, FourBarsOfTwoTrianglesCentredOnTheEdges) {
    const auto v = makeOutlineVertices(100, 50, 0.25f, 0.2f, 0.75f, 0.6f, 4.0f);
    // X(x) = 100x − 50, Y(y) = 25 − 50y; half thickness 2.
    const float x0 = -25, x1 = 25, y0 = 15, y1 = -5;
    const std::array<std::array<float, 4>, 4> bars{{{x0 - 2, x1 + 2, y1 - 2, y1 + 2},
                                                    {x0 - 2, x1 + 2, y0 - 2, y0 + 2},
                                                    {x0 - 2, x0 + 2, y1 - 2, y0 + 2},
                                                    {x1 - 2, x1 + 2, y1 - 2, y0 + 2}}};
    for (size_t b = 0; b < 4; ++b) {
        const auto [xa, xb, ya, yb] = bars[b];
        const std::array<RenderVertex, 6> expected{{{{xb, ya}, {1, 1}}, {{xa, ya}, {0, 1}}, {{xb, yb}, {1, 0}},
                                                    {{xa, ya}, {0, 1}}, {{xb, yb}, {1, 0}}, {{xa, yb}, {0, 0}}}};
        for (size_t i = 0; i < 6; ++i) {
            const RenderVertex& got = v[b * 6 + i];
            EXPECT_NEAR(got.position[0], expected[i].position[0], 1e-4) << b << "," << i;
            EXPECT_NEAR(got.position[1], expected[i].position[1], 1e-4) << b << "," << i;
            EXPECT_EQ(got.textureCoordinate[0], expected[i].textureCoordinate[0]);
            EXPECT_EQ(got.textureCoordinate[1], expected[i].textureCoordinate[1]);
        }
    }
}

}  // namespace
}  // namespace kv
