#pragma once
// Conversions between float channel values and the stored forms of the
// surface pixel formats: IEEE half floats and bytes of 0..1.
#include <cstddef>
#include <cstdint>

namespace kv {

// The order of a BGRA pixel: the byte each of R, G, B, A sits at, which is
// also the channel each byte holds (the order is its own inverse).
inline constexpr size_t kBgraOrder[4] = {2, 1, 0, 3};

// Rounded to nearest even; NaN stays NaN, and values too large become infinity.
uint16_t halfFromFloat(float value);
float floatFromHalf(uint16_t half);

// 0..1 to 0..255, rounded to nearest; NaN and values below 0 give 0.
uint8_t unormByte(float value);

}  // namespace kv
