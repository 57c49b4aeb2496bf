#pragma once
// What the renderer hands the shaders "vertexShader" and "fragmentShader":
// the vertex record and the argument indices of each stage.
#include <cstdint>

#include "platform/metal/mtl_types.h"

namespace kv {

// One vertex: its position in destination pixels about the tile centre,
// y upward, and its texture coordinate (0...1 across the source, row 0 at 0).
struct RenderVertex {
    float position[2];
    float textureCoordinate[2];
};
static_assert(sizeof(RenderVertex) == 16);

enum VertexArgument : NSUInteger {
    kVertexArgumentVertices = 0,
    kVertexArgumentViewportSize = 1,  // two UInt32: width, height
    kVertexArgumentOffset = 2,        // float2 (0, 0)
    kVertexArgumentScale = 3,         // float2 (1, 1)
};

enum FragmentArgument : NSUInteger {
    kFragmentArgumentDrawingMode = 0,  // UInt16, a DrawingMode
    kFragmentArgumentColor = 1,        // four Floats, for DrawingMode::fill
    kFragmentArgumentBrightness = 2,   // Float factor on red, green and blue
    kFragmentArgumentViewportSize = 3,
    kFragmentArgumentSensorSize = 4,
    kFragmentArgumentFocalLength = 5,
    kFragmentArgumentWindowFocalLength = 6,  // the focal length over the texture window
    kFragmentArgumentWindowCenter = 7,       // float2
};

enum FragmentTexture : NSUInteger {
    kFragmentTextureSource = 0,
};

enum class DrawingMode : uint16_t {
    image = 0,  // samples the source texture
    fill = 1,   // the colour argument
};

}  // namespace kv
