#pragma once
// Pieces of the render that stand on their own: the colour format a
// destination surface is drawn in, and the vertices of one outline.
#include <array>
#include <cstdint>

#include "platform/iosurface/iosurface.h"
#include "platform/metal/mtl_types.h"
#include "plugin/shader_types.h"

namespace kv {

// "BGRA" surfaces are drawn as BGRA8Unorm, "RGfA" as RGBA32Float, any other
// as RGBA16Float.
MTLPixelFormat renderPixelFormat(OSType surfacePixelFormat);

// The outline of the normalised rectangle (x0, y0, x1, y1) on a W × H
// destination tile: four bars `thickness` pixels wide centred on its edges,
// two triangles each, the bars at y1 and y0 first, reaching half a thickness
// past the corners, then the bars at x0 and x1.
std::array<RenderVertex, 24> makeOutlineVertices(int32_t width, int32_t height, float x0, float y0, float x1,
                                                 float y1, float thickness);

}  // namespace kv
