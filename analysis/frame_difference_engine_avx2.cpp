// The row scan for x86 CPUs with AVX2 and FMA: the same source as the generic
// engine, compiled for those units (checked at run time before use).
#include <cstdint>

#include "analysis/frame_difference_engine.h"
#include "platform/foundation/vector_units.h"

#if defined(KV_X86_VECTOR_CODE)
#include <immintrin.h>

// Everything up to the end mark is compiled for AVX2 and FMA.
KV_VECTOR_CODE_BEGIN("avx2,fma")

namespace kv::fd::avx2 {
namespace {

typedef float F8 __attribute__((vector_size(32)));
typedef int32_t I8 __attribute__((vector_size(32)));

inline F8 fma8(F8 a, F8 b, F8 c) { return (F8)_mm256_fmadd_ps((__m256)a, (__m256)b, (__m256)c); }

// Ring lanes from four unaligned row loads of the 22-wide tile: lanes 0-2 are
// cells 0-2 of the first row and lane 3 cell 0 of the second; lane 4 is cell
// 2 of the second row and lanes 5-7 cells 0-2 of the third.
inline F8 loadRing(const float* at) {
    constexpr int t = 22;
    const __m128 low = _mm_blend_ps(_mm_loadu_ps(at), _mm_loadu_ps(at + t - 3), 0b1000);
    const __m128 high = _mm_blend_ps(_mm_loadu_ps(at + 2 * t - 1), _mm_loadu_ps(at + t + 2), 0b0001);
    return (F8)_mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}

#include "analysis/frame_difference_engine.inl"

}  // namespace
}  // namespace kv::fd::avx2

KV_VECTOR_CODE_END

namespace kv::fd {

const Engine* avx2Engine() {
    static const Engine engine{"avx2", avx2::scanRow, avx2::symmetryScore};
    return cpuHasAvx2AndFma() ? &engine : nullptr;
}

}  // namespace kv::fd

#else

namespace kv::fd {
const Engine* avx2Engine() { return nullptr; }
}  // namespace kv::fd

#endif
