#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "metal_test_support.h"
#include "platform/metal/rasterizer.h"

namespace kv {
namespace {

using test::ClipVertex;

// Encodes one pass of draws over `target` and commits it, then checks the
// target against the reference run from the same pixels.
struct Drawing {
    std::shared_ptr<MTLDevice> device = test::testDevice();
    std::shared_ptr<MTLTexture> target;
    std::shared_ptr<MTLCommandBuffer> buffer;
    std::shared_ptr<MTLRenderCommandEncoder> encoder;

    Drawing(MTLPixelFormat format, NSUInteger width, NSUInteger height,
            std::shared_ptr<MTLFunction> fragment = test::valuesFragmentFunction(),
            MTLLoadAction loadAction = MTLLoadActionClear) {
        target = test::testTexture(*device, format, width, height);
        buffer = device->newCommandQueue()->commandBuffer();
        MTLRenderPassDescriptor pass;
        pass.colorAttachments[0].texture = target;
        pass.colorAttachments[0].loadAction = loadAction;
        pass.colorAttachments[0].clearColor = MTLClearColorMake(0.25, 0.5, 0.75, 1.0);
        encoder = buffer->renderCommandEncoderWithDescriptor(pass);
        encoder->setRenderPipelineState(test::testPipeline(*device, format, std::move(fragment)));
    }

    void draw(const std::vector<ClipVertex>& vertices, MTLPrimitiveType type = MTLPrimitiveTypeTriangle) {
        encoder->setVertexBytes(vertices.data(), vertices.size() * sizeof(ClipVertex), 0);
        encoder->drawPrimitives(type, 0, vertices.size());
    }

    // Commits and answers whether the fast path matched the reference.
    bool commitMatchesReference(MTLCommandBufferStatus expected = MTLCommandBufferStatusCompleted) {
        test::CommitRecorder recorder;
        encoder->endEncoding();
        buffer->commit();
        EXPECT_EQ(buffer->status(), expected);
        EXPECT_EQ(recorder.passes.size(), 1u);
        if (recorder.passes.size() != 1) return false;
        return test::packedPixels(*target) == test::referenceRender(recorder.passes[0], recorder.before[0]);
    }

    std::array<float, 4> pixel(NSUInteger x, NSUInteger y) const {
        std::array<float, 4> rgba;
        metal::loadTexels(target->pixelFormat(), target->row(y) + x * metal::bytesPerTexel(target->pixelFormat()), 1,
                          rgba.data());
        return rgba;
    }
};

constexpr MTLPixelFormat kFormats[] = {MTLPixelFormatRGBA32Float, MTLPixelFormatRGBA16Float, MTLPixelFormatBGRA8Unorm};

TEST(RasterizerTest, RandomTrianglesAndStripsMatchTheReferenceInEveryFormat) {
    test::forEachVectorUnits([] {
        std::mt19937 random(12345);
        std::uniform_real_distribution<float> near(-1.4f, 1.4f);
        std::uniform_real_distribution<float> value(-0.5f, 1.5f);
        for (MTLPixelFormat format : kFormats) {
            Drawing drawing(format, 97, 61);
            for (int draw = 0; draw < 40; ++draw) {
                std::vector<ClipVertex> vertices;
                for (int i = 0; i < 9; ++i) {
                    vertices.push_back({near(random), near(random), value(random), value(random)});
                }
                if (draw % 7 == 0) vertices[1].x = 3e7f;  // far outside: held by the guard band
                drawing.draw(vertices, draw % 2 ? MTLPrimitiveTypeTriangleStrip : MTLPrimitiveTypeTriangle);
            }
            EXPECT_TRUE(drawing.commitMatchesReference()) << format;
        }
    });
}

TEST(RasterizerTest, MeshOfSharedEdgesCoversEveryPixelAndMatchesTheReference) {
    // A 7 × 5 grid of quads over the whole viewport, with vertices at odd
    // fractions so that many pixel centres fall on shared edges.
    Drawing drawing(MTLPixelFormatRGBA32Float, 64, 40);
    std::vector<ClipVertex> vertices;
    const auto at = [](int i, int j) { return ClipVertex{-1.0f + 2.0f * float(i) / 7.0f, -1.0f + 2.0f * float(j) / 5.0f, float(i), float(j)}; };
    for (int i = 0; i < 7; ++i) {
        for (int j = 0; j < 5; ++j) {
            vertices.insert(vertices.end(), {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
    drawing.draw(vertices);
    EXPECT_TRUE(drawing.commitMatchesReference());
    for (NSUInteger y = 0; y < 40; ++y) {
        for (NSUInteger x = 0; x < 64; ++x) EXPECT_EQ(drawing.pixel(x, y)[2], float(x)) << x << "," << y;
    }
}

TEST(RasterizerTest, CentresOnAnEdgeBelongToTheTopAndLeftEdgesOnly) {
    // Pixel columns 0..3 of an 8 × 4 target; the rectangle spans x 0.5 to 2.5
    // and y 0.5 to 2.5 in pixels: centres of columns and rows 0 and 1 only.
    Drawing drawing(MTLPixelFormatRGBA32Float, 8, 4);
    const float left = 0.5f / 4.0f - 1.0f, right = 2.5f / 4.0f - 1.0f;
    const float top = 1.0f - 0.5f / 2.0f, bottom = 1.0f - 2.5f / 2.0f;
    drawing.draw({{left, top, 1, 1}, {right, top, 1, 1}, {right, bottom, 1, 1},
                  {left, top, 1, 1}, {right, bottom, 1, 1}, {left, bottom, 1, 1}});
    EXPECT_TRUE(drawing.commitMatchesReference());
    for (NSUInteger y = 0; y < 4; ++y) {
        for (NSUInteger x = 0; x < 8; ++x) {
            const bool covered = x < 2 && y < 2;
            EXPECT_EQ(drawing.pixel(x, y)[0], covered ? 1.0f : 0.25f) << x << "," << y;
        }
    }
}

TEST(RasterizerTest, ViewportPlacesAndClipsTheDrawing) {
    Drawing drawing(MTLPixelFormatRGBA32Float, 20, 10);
    drawing.encoder->setViewport(MTLViewport{5.0, 2.0, 30.0, 4.0, 0.0, 1.0});  // runs past the right edge
    drawing.draw({{-1, 1, 1, 1}, {1, 1, 1, 1}, {1, -1, 1, 1}, {-1, 1, 1, 1}, {1, -1, 1, 1}, {-1, -1, 1, 1}});
    EXPECT_TRUE(drawing.commitMatchesReference());
    for (NSUInteger y = 0; y < 10; ++y) {
        for (NSUInteger x = 0; x < 20; ++x) {
            EXPECT_EQ(drawing.pixel(x, y)[0], x >= 5 && y >= 2 && y < 6 ? 1.0f : 0.25f) << x << "," << y;
        }
    }
}

TEST(RasterizerTest, PositionsThatAreNotNumbersOrBehindTheViewerDrawNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Drawing drawing(MTLPixelFormatRGBA32Float, 16, 16);
    drawing.draw({{nan, 0, 1, 1}, {1, 1, 1, 1}, {-1, -1, 1, 1}, {0, 0, nan, nan}, {inf, 0, 1, 1}, {0, -inf, 1, 1}});
    for (const MTLViewport& viewport : {MTLViewport{0, 0, nan, 16, 0, 1}, MTLViewport{0, 0, 0, 16, 0, 1},
                                        MTLViewport{-inf, 0, inf, 16, 0, 1}}) {
        drawing.encoder->setViewport(viewport);
        drawing.draw({{-1, 1, 1, 1}, {1, 1, 1, 1}, {1, -1, 1, 1}});
    }
    EXPECT_TRUE(drawing.commitMatchesReference());
}

TEST(RasterizerTest, TexturedQuadAtOneTexelPerPixelCopiesTheTexture) {
    for (MTLPixelFormat format : kFormats) {
        Drawing drawing(format, 33, 17, test::samplingFragmentFunction());
        auto source = test::testTexture(*drawing.device, MTLPixelFormatRGBA32Float, 33, 17);
        for (NSUInteger y = 0; y < 17; ++y) {
            for (NSUInteger x = 0; x < 33; ++x) {
                const float rgba[4] = {float(x) / 32.0f, float(y) / 16.0f, 0.5f, 1.0f};
                std::memcpy(source->row(y) + x * 16, rgba, 16);
            }
        }
        drawing.encoder->setFragmentTexture(source, 0);
        drawing.draw({{1, -1, 1, 1}, {-1, -1, 0, 1}, {1, 1, 1, 0}, {-1, 1, 0, 0}}, MTLPrimitiveTypeTriangleStrip);
        EXPECT_TRUE(drawing.commitMatchesReference()) << format;
        const float tolerance = format == MTLPixelFormatRGBA32Float ? 1e-5f : 3e-3f;
        for (NSUInteger y = 0; y < 17; ++y) {
            for (NSUInteger x = 0; x < 33; ++x) {
                EXPECT_NEAR(drawing.pixel(x, y)[0], float(x) / 32.0f, tolerance);
                EXPECT_NEAR(drawing.pixel(x, y)[1], float(y) / 16.0f, tolerance);
            }
        }
    }
}

TEST(RasterizerTest, SamplingTheTargetItselfReadsThePixelsFromBeforeTheDraw) {
    Drawing drawing(MTLPixelFormatRGBA32Float, 64, 64, test::samplingFragmentFunction(), MTLLoadActionLoad);
    const auto pattern = [](NSUInteger x, NSUInteger y) {
        return std::array<float, 4>{float(x) / 64.0f, float(y) / 64.0f, float((x * 7 + y * 3) % 11) / 11.0f, 1.0f};
    };
    for (NSUInteger y = 0; y < 64; ++y) {
        for (NSUInteger x = 0; x < 64; ++x) std::memcpy(drawing.target->row(y) + x * 16, pattern(x, y).data(), 16);
    }
    drawing.encoder->setFragmentTexture(drawing.target, 0);
    // Mirrored both ways, so that every pixel reads another one, half of
    // them from rows drawn before their own.
    drawing.draw({{1, -1, 0, 0}, {-1, -1, 1, 0}, {1, 1, 0, 1}, {-1, 1, 1, 1}}, MTLPrimitiveTypeTriangleStrip);
    EXPECT_TRUE(drawing.commitMatchesReference());
    for (NSUInteger y = 0; y < 64; ++y) {
        for (NSUInteger x = 0; x < 64; ++x) {
            const auto expected = pattern(63 - x, 63 - y);
            for (size_t c = 0; c < 4; ++c) ASSERT_NEAR(drawing.pixel(x, y)[c], expected[c], 1e-5) << x << "," << y;
        }
    }
}

TEST(RasterizerTest, ARejectedDrawEndsThePassAsInTheReference) {
    const std::vector<ClipVertex> left{{-1, 1, 1, 1}, {0, 1, 1, 1}, {0, -1, 1, 1}};
    const std::vector<ClipVertex> right{{0, 1, 2, 2}, {1, 1, 2, 2}, {1, -1, 2, 2}};
    const auto rejectedBy = [&](const std::function<void(Drawing&)>& reject) {
        Drawing drawing(MTLPixelFormatRGBA32Float, 16, 8);
        drawing.draw(left);
        reject(drawing);
        drawing.draw(right);
        drawing.draw(left, MTLPrimitiveTypeTriangleStrip);
        EXPECT_TRUE(drawing.commitMatchesReference(MTLCommandBufferStatusError));
        EXPECT_EQ(drawing.pixel(1, 1)[0], 1.0f);   // drawn before the rejected draw
        EXPECT_EQ(drawing.pixel(14, 1)[0], 0.25f);  // never drawn after it
    };
    rejectedBy([](Drawing& drawing) { drawing.draw({{-1, -1, 0, 0}, {1, 1, 0, 0}}, MTLPrimitiveTypeLine); });
    const NSUInteger tooMany = metal::kMaxDrawVertices + 1;
    rejectedBy([&](Drawing& drawing) { drawing.encoder->drawPrimitives(MTLPrimitiveTypeTriangle, 0, tooMany); });
    rejectedBy([&](Drawing& drawing) { drawing.encoder->drawPrimitives(MTLPrimitiveTypeTriangle, tooMany, 3); });
    rejectedBy([](Drawing& drawing) {
        drawing.encoder->setRenderPipelineState(
            test::testPipeline(*drawing.device, MTLPixelFormatBGRA8Unorm, test::valuesFragmentFunction()));
        drawing.draw({{-1, -1, 0, 0}, {1, 1, 0, 0}, {1, -1, 0, 0}});
        drawing.encoder->setRenderPipelineState(
            test::testPipeline(*drawing.device, MTLPixelFormatRGBA32Float, test::valuesFragmentFunction()));
    });
}

TEST(RasterizerTest, DrawsTheRulesRejectEndTheBufferInError) {
    Drawing lines(MTLPixelFormatRGBA32Float, 8, 8);
    lines.draw({{-1, -1, 0, 0}, {1, 1, 0, 0}}, MTLPrimitiveTypeLine);
    lines.encoder->endEncoding();
    lines.buffer->commit();
    EXPECT_EQ(lines.buffer->status(), MTLCommandBufferStatusError);
    ASSERT_TRUE(lines.buffer->error());

    Drawing mismatch(MTLPixelFormatRGBA32Float, 8, 8);
    mismatch.encoder->setRenderPipelineState(
        test::testPipeline(*mismatch.device, MTLPixelFormatBGRA8Unorm, test::valuesFragmentFunction()));
    mismatch.draw({{-1, -1, 0, 0}, {1, 1, 0, 0}, {1, -1, 0, 0}});
    mismatch.encoder->endEncoding();
    mismatch.buffer->commit();
    EXPECT_EQ(mismatch.buffer->status(), MTLCommandBufferStatusError);

    Drawing none(MTLPixelFormatRGBA32Float, 8, 8);
    none.encoder->setRenderPipelineState(nullptr);
    none.draw({{-1, -1, 0, 0}, {1, 1, 0, 0}, {1, -1, 0, 0}});
    none.encoder->endEncoding();
    none.buffer->commit();
    EXPECT_EQ(none.buffer->status(), MTLCommandBufferStatusError);
    // The clear still happened.
    EXPECT_EQ(none.pixel(0, 0)[0], 0.25f);
}

}  // namespace
}  // namespace kv
