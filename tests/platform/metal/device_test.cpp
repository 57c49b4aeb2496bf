#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "metal_test_support.h"
#include "platform/foundation/process_setting.h"
#include "platform/iosurface/pixel_values.h"

namespace kv {
namespace {

TEST(MetalDeviceTest, TheSystemHasTheSoftwareGPUUnlessASourceIsInstalled) {
    const auto devices = MTLCopyAllDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]->registryID(), kSoftwareGPURegistryID);
    EXPECT_EQ(MTLCopyAllDevices()[0], devices[0]);  // the same GPU every time

    const auto other = test::testDevice(42);
    {
        const ScopedOverride source(setMetalDeviceSource, [other] { return std::vector{other}; });
        EXPECT_EQ(MTLCopyAllDevices(), std::vector{other});
    }
    EXPECT_EQ(MTLCopyAllDevices(), devices);
}

TEST(MetalDeviceTest, ADeviceMakesQueuesUpToItsLimit) {
    MTLDeviceDescription description;
    description.commandQueueLimit = 2;
    const auto device = MTLDevice::make(description);
    const auto first = device->newCommandQueue();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->device(), device);
    EXPECT_TRUE(device->newCommandQueue());
    EXPECT_FALSE(device->newCommandQueue());
}

TEST(MetalDeviceTest, PipelineNeedsAVertexAndAFragmentFunctionAndADrawableFormat) {
    const auto device = test::testDevice();
    const auto build = [&](std::shared_ptr<MTLFunction> vertex, std::shared_ptr<MTLFunction> fragment,
                           MTLPixelFormat format) {
        MTLRenderPipelineDescriptor descriptor;
        descriptor.setVertexFunction(std::move(vertex));
        descriptor.setFragmentFunction(std::move(fragment));
        descriptor.colorAttachments[0].pixelFormat = format;
        return device->newRenderPipelineStateWithDescriptor(descriptor);
    };
    const auto vertex = test::clipVertexFunction();
    const auto fragment = test::valuesFragmentFunction();
    for (MTLPixelFormat format : {MTLPixelFormatBGRA8Unorm, MTLPixelFormatRGBA16Float, MTLPixelFormatRGBA32Float}) {
        auto state = build(vertex, fragment, format);
        ASSERT_TRUE(state.ok());
        EXPECT_EQ((*state)->colorPixelFormat(), format);
        EXPECT_EQ((*state)->deviceRegistryID(), 7u);
    }
    EXPECT_FALSE(build(nullptr, fragment, MTLPixelFormatRGBA32Float).ok());
    EXPECT_FALSE(build(vertex, nullptr, MTLPixelFormatRGBA32Float).ok());
    EXPECT_FALSE(build(fragment, vertex, MTLPixelFormatRGBA32Float).ok());  // each of the wrong kind
    EXPECT_FALSE(build(vertex, fragment, MTLPixelFormatInvalid).ok());
    EXPECT_FALSE(build(vertex, fragment, 70).ok());
}

TEST(MetalDeviceTest, LibrariesFindFunctionsByName) {
    const MTLLibrary library({test::clipVertexFunction(), test::valuesFragmentFunction()});
    EXPECT_EQ(library.newFunctionWithName("values")->functionType(), MTLFunctionTypeFragment);
    EXPECT_EQ(library.newFunctionWithName("missing"), nullptr);
    EXPECT_EQ(library.functionNames(), (std::vector<std::string>{"clipVertex", "values"}));

    // This program registers no shaders, so its service has no default library.
    EXPECT_EQ(test::testDevice()->newDefaultLibrary(), nullptr);
    EXPECT_EQ(metal::defaultLibrary(), nullptr);
}

TEST(MetalTextureTest, ATextureLiesOnlyOverASurfaceOfItsFormatAndSize) {
    const auto device = test::testDevice();
    const auto surface = IOSurface::create(10, 6, kCVPixelFormatType_64RGBAHalf);
    const auto describe = [](MTLPixelFormat format, NSUInteger w, NSUInteger h) {
        return MTLTextureDescriptor::texture2DDescriptor(format, w, h);
    };
    const auto texture = device->newTextureWithDescriptor(describe(MTLPixelFormatRGBA16Float, 10, 6), surface, 0);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->deviceRegistryID(), 7u);
    EXPECT_EQ(texture->iosurface(), surface);
    EXPECT_TRUE(device->newTextureWithDescriptor(describe(MTLPixelFormatRGBA16Float, 4, 3), surface, 0));
    EXPECT_FALSE(device->newTextureWithDescriptor(describe(MTLPixelFormatRGBA32Float, 10, 6), surface, 0));
    EXPECT_FALSE(device->newTextureWithDescriptor(describe(MTLPixelFormatRGBA16Float, 11, 6), surface, 0));
    EXPECT_FALSE(device->newTextureWithDescriptor(describe(MTLPixelFormatRGBA16Float, 10, 0), surface, 0));
    EXPECT_FALSE(device->newTextureWithDescriptor(describe(MTLPixelFormatRGBA16Float, 10, 6), surface, 1));
    EXPECT_FALSE(device->newTextureWithDescriptor(describe(MTLPixelFormatRGBA16Float, 10, 6), nullptr, 0));
}

TEST(MetalTextureTest, StoredFormatsConvertAsTheGPUDoes) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[8] = {0.5f, -1.0f, 2.0f, nan, 1.0f / 255.0f, 0.998f, 0.0f, 1.0f};
    uint8_t bgra[8];
    metal::storeTexels(MTLPixelFormatBGRA8Unorm, values, 2, bgra);
    // B, G, R, A of each pixel; 127.5 rounds to even.
    EXPECT_EQ(std::vector<uint8_t>(bgra, bgra + 8), (std::vector<uint8_t>{255, 0, 128, 0, 0, 254, 1, 255}));
    float back[8];
    metal::loadTexels(MTLPixelFormatBGRA8Unorm, bgra, 2, back);
    EXPECT_EQ(back[0], 128.0f / 255.0f);
    EXPECT_EQ(back[2], 1.0f);

    uint8_t half[16];
    metal::storeTexels(MTLPixelFormatRGBA16Float, values, 2, half);
    metal::loadTexels(MTLPixelFormatRGBA16Float, half, 2, back);
    EXPECT_EQ(back[0], 0.5f);
    EXPECT_EQ(back[1], -1.0f);
    EXPECT_TRUE(std::isnan(back[3]));
    EXPECT_EQ(back[4], float(_Float16(1.0f / 255.0f)));
}

TEST(MetalTextureTest, SamplingFiltersBetweenTexelCentresClampedToTheEdgeAndIsTransparentOutside) {
    // 2 × 2 texels: red channel 0, 1 / 2, 3.
    const float texels[16] = {0, 0, 0, 1, 1, 0, 0, 1, 2, 0, 0, 1, 3, 0, 0, 1};
    const metal::TexelView view{texels, 8, 2, 2};
    float rgba[4];
    view.sample(0.25f, 0.25f, rgba);  // the first texel's centre
    EXPECT_EQ(rgba[0], 0.0f);
    EXPECT_EQ(rgba[3], 1.0f);
    view.sample(0.75f, 0.75f, rgba);
    EXPECT_EQ(rgba[0], 3.0f);
    view.sample(0.5f, 0.5f, rgba);  // the middle: the mean of all four
    EXPECT_EQ(rgba[0], 1.5f);
    // From the outermost texel centres to the edges: the edge texels themselves.
    view.sample(0.0f, 0.25f, rgba);
    EXPECT_EQ(rgba[0], 0.0f);
    EXPECT_EQ(rgba[3], 1.0f);
    view.sample(1.0f, 0.0f, rgba);
    EXPECT_EQ(rgba[0], 1.0f);
    EXPECT_EQ(rgba[3], 1.0f);
    view.sample(0.1f, 1.0f, rgba);
    EXPECT_EQ(rgba[0], 2.0f);
    view.sample(0.5f, 1.0f, rgba);  // halfway along the lower edge
    EXPECT_EQ(rgba[0], 2.5f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float u : {-0.6f, 1.6f, -1e-7f, 1.0000001f, nan, 1e30f, -1e30f, std::numeric_limits<float>::infinity()}) {
        view.sample(u, 0.5f, rgba);
        EXPECT_EQ(rgba[3], 0.0f) << u;
        view.sample(0.5f, u, rgba);
        EXPECT_EQ(rgba[3], 0.0f) << u;
    }
}

TEST(MetalTextureTest, StoringBytesInBulkGivesEachValuesOwnByte) {
    // Every byte's neighbourhood (ties included), values outside 0..1 and
    // not numbers, over an odd number of pixels so the plain tail runs too.
    std::vector<float> values;
    for (int k = 0; k <= 256; ++k) {
        for (const float offset : {-0.5f, -0.0001f, 0.0f, 0.0001f, 0.5f}) values.push_back((float(k) + offset) / 255.0f);
    }
    for (const float odd : {-0.0f, -1e-30f, 1e30f, std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        values.push_back(odd);
    }
    while (values.size() % 4 != 0 || (values.size() / 4) % 2 == 0) values.push_back(0.25f);
    const size_t pixels = values.size() / 4;
    test::forEachVectorUnits([&] {
        std::vector<uint8_t> stored(values.size());
        metal::storeTexels(MTLPixelFormatBGRA8Unorm, values.data(), pixels, stored.data());
        constexpr int kChannelOfByte[4] = {2, 1, 0, 3};
        for (size_t p = 0; p < pixels; ++p) {
            for (int c = 0; c < 4; ++c) {
                const float value = values[p * 4 + size_t(kChannelOfByte[c])];
                ASSERT_EQ(stored[p * 4 + size_t(c)], kv::unormByte(value)) << "pixel " << p << " value " << value;
            }
        }
    });
}

// Spans of `count` coordinates across, on and past the edges, some not
// numbers, laid out with two and with three values a pixel: each pixel as
// its own sample to the bit and, when `exact` is given, within 1/8192 of it.
void expectSpansAreSamples(const metal::TexelView& view, size_t count, const metal::TexelView* exact = nullptr) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<std::array<float, 2>> points{{0.0f, 0.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}, {nan, 0.5f}, {0.5f, nan},
                                             {-0.0f, 0.999f}, {1.0000001f, 0.5f}};
    for (int i = 0; points.size() < count; ++i) {
        points.push_back({float(i % 13) / 10.0f - 0.1f, float(i % 7) / 5.0f - 0.1f});
    }
    for (const size_t stride : {size_t(2), size_t(3)}) {
        std::vector<float> coordinates;
        for (const auto& p : points) {
            coordinates.insert(coordinates.end(), {p[0], p[1]});
            if (stride == 3) coordinates.push_back(9.0f);
        }
        std::vector<float> span(points.size() * 4);
        view.sampleSpan(coordinates.data(), stride, int32_t(points.size()), span.data());
        for (size_t i = 0; i < points.size(); ++i) {
            float one[4];
            view.sample(points[i][0], points[i][1], one);
            ASSERT_EQ(std::memcmp(one, &span[i * 4], sizeof(one)), 0) << "pixel " << i << ", stride " << stride;
            if (!exact) continue;
            float reference[4];
            exact->sample(points[i][0], points[i][1], reference);
            for (int c = 0; c < 4; ++c) ASSERT_NEAR(one[c], reference[c], 1.0f / 8192.0f) << "pixel " << i;
        }
    }
}

TEST(MetalTextureTest, SamplingASpanGivesEachPixelsOwnSampleToTheBit) {
    // 5 × 3 texels of unlike values.
    std::vector<float> texels(5 * 3 * 4);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = float((i * 37) % 11) / 7.0f - 0.3f;
    test::forEachVectorUnits([&] { expectSpansAreSamples(metal::TexelView{texels.data(), 20, 5, 3}, 41); });
}

TEST(MetalTextureTest, SamplingAn8BitTextureKeepsNearTheExactFilterAndItsSpansMatchItToTheBit) {
    // 2 × 2 red bytes 0, 255 / 255, 0: the middle is their mean exactly, and
    // the right edge rounds to the edge texel's own byte.
    const uint8_t square[16] = {0, 0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 0, 255};
    metal::TexelView small;
    small.width = small.height = 2;
    small.bgra = square;
    small.rowBytes = 8;
    float rgba[4];
    small.sample(0.5f, 0.5f, rgba);
    EXPECT_EQ(rgba[0], 0.5f);
    EXPECT_EQ(rgba[3], 1.0f);
    small.sample(1.0f, 0.25f, rgba);
    EXPECT_EQ(kv::unormByte(rgba[0]), 255);

    // 7 × 4 texels of unlike bytes, 0 beside 255 among them, rows padded; the
    // same texels as floats v/255 for the exact filter.
    constexpr int kWidth = 7, kHeight = 4;
    constexpr size_t kRowBytes = kWidth * 4 + 12;
    std::vector<uint8_t> bytes(kRowBytes * kHeight);
    std::vector<float> exact(size_t(kWidth) * kHeight * 4);
    constexpr int kByteOfChannel[4] = {2, 1, 0, 3};
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 4; ++c) {
                const uint8_t byte = (x + y + c) % 3 == 0 ? 255 : uint8_t((x * 89 + y * 37 + c * 53) % 256);
                bytes[size_t(y) * kRowBytes + size_t(x) * 4 + size_t(kByteOfChannel[c])] = byte;
                exact[(size_t(y) * kWidth + size_t(x)) * 4 + size_t(c)] = float(byte) / 255.0f;
            }
        }
    }
    metal::TexelView view;
    view.width = kWidth;
    view.height = kHeight;
    view.bgra = bytes.data();
    view.rowBytes = kRowBytes;
    const metal::TexelView exactView{exact.data(), size_t(kWidth) * 4, kWidth, kHeight};
    test::forEachVectorUnits([&] { expectSpansAreSamples(view, 203, &exactView); });
}

TEST(MetalCommandBufferTest, ABufferRunsItsPassesOnceAtCommitAndTellsTheObserver) {
    const auto device = test::testDevice();
    const auto target = test::testTexture(*device, MTLPixelFormatRGBA32Float, 4, 4);
    const auto buffer = device->newCommandQueue()->commandBuffer();
    buffer->label = "Frame";
    EXPECT_EQ(buffer->status(), MTLCommandBufferStatusNotEnqueued);
    buffer->enqueue();
    EXPECT_EQ(buffer->status(), MTLCommandBufferStatusEnqueued);

    EXPECT_FALSE(buffer->renderCommandEncoderWithDescriptor(MTLRenderPassDescriptor{}));  // no texture
    MTLRenderPassDescriptor pass;
    pass.colorAttachments[0].texture = target;
    pass.colorAttachments[0].loadAction = MTLLoadActionClear;
    pass.colorAttachments[0].clearColor = MTLClearColorMake(1.0, 0.5, 0.0, 1.0);
    const auto encoder = buffer->renderCommandEncoderWithDescriptor(pass);
    const uint16_t mode = 1;
    encoder->setFragmentBytes(&mode, sizeof(mode), 0);
    encoder->endEncoding();
    encoder->setFragmentBytes(&mode, sizeof(mode), 1);  // after the end: ignored

    test::CommitRecorder recorder;
    buffer->commit();
    buffer->waitUntilCompleted();
    EXPECT_EQ(buffer->status(), MTLCommandBufferStatusCompleted);
    EXPECT_EQ(recorder.labels, std::vector<std::string>{"Frame"});
    ASSERT_EQ(recorder.passes.size(), 1u);
    ASSERT_EQ(recorder.passes[0].commands.size(), 1u);
    const auto& set = std::get<metal::SetBytes>(recorder.passes[0].commands[0]);
    EXPECT_EQ(set.index, 0u);
    EXPECT_EQ(set.bytes, (std::vector<uint8_t>{1, 0}));
    float pixel[4];
    std::memcpy(pixel, target->row(3) + 3 * 16, 16);
    EXPECT_EQ(pixel[1], 0.5f);

    buffer->commit();  // once only
    EXPECT_EQ(recorder.labels.size(), 1u);
    EXPECT_FALSE(buffer->renderCommandEncoderWithDescriptor(pass));
}

}  // namespace
}  // namespace kv
