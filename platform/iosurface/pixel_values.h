#pragma once
// Conversions between float channel values and the stored forms of the
// surface pixel formats: IEEE half floats and bytes of 0..1.
#include <cstdint>

namespace kv {

// Rounded to nearest even; NaN stays NaN, and values too large become infinity.
uint16_t halfFromFloat(float value);
float floatFromHalf(uint16_t half);

// 0..1 to 0..255, rounded to nearest; NaN and values below 0 give 0.
uint8_t unormByte(float value);

}  // namespace kv
