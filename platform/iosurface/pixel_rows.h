#pragma once
// Rows of pixels between a surface's stored format and packed float RGBA
// (red, green, blue, alpha): 8-bit values are v/255 on reading and
// round(v·255), clamped to 0...255, on writing (NaN writes 0); half floats
// round to nearest even; floats are copied. A format no surface is made in
// is left alone.
#include <cstddef>
#include <cstdint>

#include "platform/iosurface/iosurface.h"

namespace kv {

void loadPixelRow(OSType pixelFormat, const uint8_t* stored, size_t count, float* rgba);
void storePixelRow(OSType pixelFormat, const float* rgba, size_t count, uint8_t* stored);

}  // namespace kv
