// The shaders of the service's default library, "vertexShader" and
// "fragmentShader", registered when the service's code is loaded.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "platform/metal/mtl_function.h"
#include "plugin/shader_types.h"

namespace kv {
namespace {

using metal::ArgumentTable;
using metal::FragmentSpan;
using metal::VertexOutput;

// Positions in pixels about the viewport centre, y upward, to clip space;
// the texture coordinate goes on to the fragments. A vertex without its
// arguments lands nowhere, and its triangles are not drawn.
VertexOutput vertexShader(uint32_t vertexID, const ArgumentTable& arguments) {
    VertexOutput output;
    const auto vertex = arguments.value<RenderVertex>(kVertexArgumentVertices, vertexID);
    const auto viewport = arguments.value<std::array<uint32_t, 2>>(kVertexArgumentViewportSize);
    if (!vertex || !viewport) {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        output.position = {nan, nan, 0.0f, 1.0f};
        return output;
    }
    const float halfWidth = float((*viewport)[0]) * 0.5f;
    const float halfHeight = float((*viewport)[1]) * 0.5f;
    output.position = {vertex->position[0] / halfWidth, vertex->position[1] / halfHeight, 0.0f, 1.0f};
    output.varyings = {vertex->textureCoordinate[0], vertex->textureCoordinate[1], 0.0f, 0.0f};
    return output;
}

// Drawing mode 0 samples the source at the texture coordinate, mode 1 fills
// with the colour argument; either is scaled by the brightness on red, green
// and blue. The lens arguments are accepted and not used.
void fragmentShader(const FragmentSpan& span, const ArgumentTable& arguments) {
    const auto mode = arguments.value<uint16_t>(kFragmentArgumentDrawingMode).value_or(0);
    const float brightness = arguments.value<float>(kFragmentArgumentBrightness).value_or(1.0f);
    float* out = span.colors;
    if (mode == uint16_t(DrawingMode::fill)) {
        const auto color = arguments.value<std::array<float, 4>>(kFragmentArgumentColor).value_or(
            std::array<float, 4>{0.0f, 0.0f, 0.0f, 0.0f});
        for (int32_t i = 0; i < span.count; ++i, out += 4) {
            out[0] = color[0] * brightness;
            out[1] = color[1] * brightness;
            out[2] = color[2] * brightness;
            out[3] = color[3];
        }
        return;
    }
    // Without a texture coordinate among the vertex values there is nothing to sample.
    const metal::TexelView* source =
        span.varyingCount >= 2 ? arguments.texture(kFragmentTextureSource) : nullptr;
    if (source) {
        source->sampleSpan(span.varyings, span.varyingCount, span.count, out);
    } else {
        std::fill(out, out + size_t(span.count) * 4, 0.0f);  // transparent black
    }
    if (brightness == 1.0f) return;  // scaling by 1 changes no value
    for (int32_t i = 0; i < span.count; ++i, out += 4) {
        out[0] *= brightness;
        out[1] *= brightness;
        out[2] *= brightness;
    }
}

[[maybe_unused]] const bool registered =
    metal::registerDefaultLibraryFunction(MTLFunction::vertexFunction("vertexShader", 2, vertexShader)) &&
    metal::registerDefaultLibraryFunction(MTLFunction::fragmentFunction("fragmentShader", fragmentShader));

}  // namespace
}  // namespace kv
