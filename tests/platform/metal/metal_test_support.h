#pragma once
// Shaders and set-up for tests of the software GPU: a vertex record in clip
// space carrying two values, a fragment function that writes what it is
// given (the two values, then the pixel's column and row), and one that
// samples texture 0 at the two values.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "commit_recorder.h"
#include "platform/foundation/vector_units.h"
#include "platform/metal/metal.h"

namespace kv::test {

// Runs `check` once for each level of vector units the CPU has, the
// software GPU's loops held to that level.
template <class Check>
void forEachVectorUnits(Check&& check) {
    const VectorUnits widest = widestVectorUnits();
    for (VectorUnits units : {VectorUnits::none, VectorUnits::avx2, VectorUnits::avx512}) {
        if (units > widest) break;
        SCOPED_TRACE("vector units " + std::to_string(int(units)));
        const VectorUnitsLimit limit(units);
        check();
    }
}

struct ClipVertex {
    float x, y;  // clip space, w = 1
    float u, v;
};

inline std::shared_ptr<MTLFunction> clipVertexFunction() {
    return MTLFunction::vertexFunction("clipVertex", 2, [](uint32_t id, const metal::ArgumentTable& arguments) {
        metal::VertexOutput out;
        const auto vertex = arguments.value<ClipVertex>(0, id).value_or(ClipVertex{0, 0, 0, 0});
        out.position = {vertex.x, vertex.y, 0.0f, 1.0f};
        out.varyings = {vertex.u, vertex.v, 0.0f, 0.0f};
        return out;
    });
}

inline std::shared_ptr<MTLFunction> valuesFragmentFunction() {
    return MTLFunction::fragmentFunction("values", [](const metal::FragmentSpan& span, const metal::ArgumentTable&) {
        for (int32_t i = 0; i < span.count; ++i) {
            float* color = span.colors + i * 4;
            color[0] = span.varyings[size_t(i) * span.varyingCount];
            color[1] = span.varyings[size_t(i) * span.varyingCount + 1];
            color[2] = float(span.x + i);
            color[3] = float(span.y);
        }
    });
}

inline std::shared_ptr<MTLFunction> samplingFragmentFunction() {
    return MTLFunction::fragmentFunction("sampling", [](const metal::FragmentSpan& span,
                                                        const metal::ArgumentTable& arguments) {
        const metal::TexelView* texture = arguments.texture(0);
        for (int32_t i = 0; i < span.count; ++i) {
            const float* uv = span.varyings + size_t(i) * span.varyingCount;
            float* color = span.colors + i * 4;
            if (texture) {
                texture->sample(uv[0], uv[1], color);
            } else {
                color[0] = color[1] = color[2] = color[3] = 0.0f;
            }
        }
    });
}

inline std::shared_ptr<MTLDevice> testDevice(uint64_t registryID = 7) {
    MTLDeviceDescription description;
    description.registryID = registryID;
    return MTLDevice::make(description);
}

inline std::shared_ptr<MTLRenderPipelineState> testPipeline(MTLDevice& device, MTLPixelFormat format,
                                                            std::shared_ptr<MTLFunction> fragment) {
    MTLRenderPipelineDescriptor descriptor;
    descriptor.label = "test";
    descriptor.setVertexFunction(clipVertexFunction());
    descriptor.setFragmentFunction(std::move(fragment));
    descriptor.colorAttachments[0].pixelFormat = format;
    auto state = device.newRenderPipelineStateWithDescriptor(descriptor);
    return state.ok() ? *state : nullptr;
}

inline OSType surfaceFormatOf(MTLPixelFormat format) {
    switch (format) {
        case MTLPixelFormatBGRA8Unorm: return kCVPixelFormatType_32BGRA;
        case MTLPixelFormatRGBA16Float: return kCVPixelFormatType_64RGBAHalf;
        default: return kCVPixelFormatType_128RGBAFloat;
    }
}

inline std::shared_ptr<MTLTexture> testTexture(MTLDevice& device, MTLPixelFormat format, NSUInteger width,
                                               NSUInteger height) {
    auto surface = IOSurface::create(int64_t(width), int64_t(height), surfaceFormatOf(format));
    return device.newTextureWithDescriptor(MTLTextureDescriptor::texture2DDescriptor(format, width, height), surface, 0);
}

}  // namespace kv::test
