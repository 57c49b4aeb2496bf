#pragma once
// Floating-point values to 64-bit integers without undefined casts: a value
// past the integer's range is detected, or held at its end, rather than cast.
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>

namespace kv {

// Whether truncating `value` toward zero gives a signed 64-bit integer: it
// lies in [-2^63, 2^63). NaN does not.
template <std::floating_point F>
constexpr bool fitsInInt64(F value) {
    constexpr F kTwoTo63 = F(9223372036854775808.0L);
    return value >= -kTwoTo63 && value < kTwoTo63;
}

// `value` truncated toward zero; NaN gives 0, values past the range its nearer end.
inline int64_t saturatingInt64(double value) {
    if (std::isnan(value)) return 0;
    if (fitsInInt64(value)) return static_cast<int64_t>(value);
    return value < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

// `value` truncated toward zero; NaN and negative values give 0, values past
// 2^64 the largest.
inline uint64_t saturatingUInt64(double value) {
    if (!(value >= 0)) return 0;
    if (value >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(value);
}

}  // namespace kv
