// The row scan for any CPU: lanes are plain GCC vectors, fused multiply-adds
// go lane by lane through the C library.
#include <cmath>

#include "analysis/frame_difference_engine.h"

// The 8-lane helpers are internal: the ABI of 32-byte vectors returned
// without AVX does not matter to them.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace kv::fd::generic {
namespace {

typedef float F8 __attribute__((vector_size(32)));
typedef int32_t I8 __attribute__((vector_size(32)));

// Operands by reference: GCC's note on how 32-byte vectors are passed by
// value without AVX cannot be silenced as the warning on returning them is.
inline F8 fma8(const F8& a, const F8& b, const F8& c) {
    F8 r;
    for (int l = 0; l < 8; ++l) r[l] = std::fma(a[l], b[l], c[l]);
    return r;
}

// Tile row stride 22 (the window side plus one cell all round).
inline F8 loadRing(const float* at) {
    constexpr int t = 22;
    return F8{at[0], at[1], at[2], at[t], at[t + 2], at[2 * t], at[2 * t + 1], at[2 * t + 2]};
}

#include "analysis/frame_difference_engine.inl"

}  // namespace
}  // namespace kv::fd::generic

namespace kv::fd {

const Engine& genericEngine() {
    static const Engine engine{"generic", generic::scanRow, generic::symmetryScore};
    return engine;
}

}  // namespace kv::fd
