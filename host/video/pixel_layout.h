#pragma once
// How a converted picture lies in memory.
#include <cstddef>

namespace kv {

// RGBA floats, 16 bytes a pixel, as the effect analyses frames; or BGRA
// bytes, 4 a pixel, each the byte nearest that float (unormByte), as the
// effect renders 8-bit pictures from.
enum class PixelLayout { rgbaFloat, bgraBytes };

inline size_t bytesPerPixel(PixelLayout layout) { return layout == PixelLayout::rgbaFloat ? 16 : 4; }

}  // namespace kv
