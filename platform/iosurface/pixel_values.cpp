#include "platform/iosurface/pixel_values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kv {

uint8_t unormByte(float value) {
    if (!(value >= 0.0f)) value = 0.0f;  // NaN too: no byte stands for it
    const float scaled = std::nearbyint(std::clamp(value, 0.0f, 1.0f) * 255.0f);
    return uint8_t(scaled);
}

uint16_t halfFromFloat(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    const uint32_t sign = (bits >> 16) & 0x8000u;
    const int32_t exponent = int32_t((bits >> 23) & 0xffu);
    uint32_t mantissa = bits & 0x7fffffu;
    if (exponent == 0xff) return uint16_t(sign | 0x7c00u | (mantissa ? 0x200u : 0u));
    const int32_t halfExponent = exponent - 127 + 15;
    if (halfExponent >= 0x1f) return uint16_t(sign | 0x7c00u);
    int shift = 13;
    uint32_t base = uint32_t(halfExponent) << 10;
    if (halfExponent <= 0) {  // below the normal range: a subnormal half, or zero
        if (halfExponent < -10) return uint16_t(sign);
        mantissa |= 0x800000u;
        shift = 14 - halfExponent;
        base = 0;
    }
    uint32_t half = base | (mantissa >> shift);
    const uint32_t rest = mantissa & ((1u << shift) - 1);
    const uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (half & 1u))) ++half;  // a carry rounds up the exponent
    return uint16_t(sign | half);
}

float floatFromHalf(uint16_t half) {
    const uint32_t sign = uint32_t(half & 0x8000u) << 16;
    const uint32_t exponent = (half >> 10) & 0x1fu;
    const uint32_t mantissa = half & 0x3ffu;
    float magnitude;
    if (exponent == 0) {
        magnitude = std::ldexp(float(mantissa), -24);
    } else if (exponent == 0x1f) {
        magnitude = mantissa ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
    } else {
        magnitude = std::ldexp(float(mantissa | 0x400u), int(exponent) - 25);
    }
    uint32_t bits;
    std::memcpy(&bits, &magnitude, 4);
    bits |= sign;
    std::memcpy(&magnitude, &bits, 4);
    return magnitude;
}

}  // namespace kv
