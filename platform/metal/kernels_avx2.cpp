#include "platform/metal/kernels_avx2.h"

#include <cstdint>
#include <cstring>

#include "platform/foundation/vector_units.h"
#include "platform/metal/mtl_texture.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

// Everything up to the end mark is compiled for AVX2 (without FMA: the
// products and sums stay separate, as in the plain loops).
KV_VECTOR_CODE_BEGIN("avx2")

namespace kv::metal::avx2 {
namespace {

// u0 u1 u4 u5 u2 u3 u6 u7, as a shuffle of two 128-bit halves leaves them, in order.
inline __m256 inOrder(__m256 mixed) {
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(mixed), _MM_SHUFFLE(3, 1, 2, 0)));
}

// How far ahead of a span's first tap its rows are fetched: a few cache
// lines, as far as the filter gets while they arrive.
constexpr uintptr_t kPrefetchBytes = 512;

}  // namespace

void filterSpan(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 width = _mm256_set1_ps(float(view.width));
    const __m256 height = _mm256_set1_ps(float(view.height));
    const __m256 lastColumn = _mm256_set1_ps(float(view.width - 1));
    const __m256 lastRow = _mm256_set1_ps(float(view.height - 1));
    const __m256i lastColumnIndex = _mm256_set1_epi32(view.width - 1);
    const __m256i lastRowIndex = _mm256_set1_epi32(view.height - 1);
    alignas(32) float gx[8], fx[8], gy[8], fy[8];
    alignas(32) int32_t columns[8], rows[8], right[8], below[8], inside[8];
    for (int32_t from = 0; from < count; from += 8) {
        const int32_t lanes = count - from < 8 ? count - from : 8;
        const float* at = coordinates + size_t(from) * stride;
        __m256 u;
        __m256 v;
        if (stride == 2 && lanes == 8) {
            // u0 v0 … u7 v7 into u0 … u7 and v0 … v7.
            const __m256 a = _mm256_loadu_ps(at);
            const __m256 b = _mm256_loadu_ps(at + 8);
            u = inOrder(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
            v = inOrder(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        } else {
            // Lanes past the span repeat its first pixel and are not stored.
            const auto coordinate = [&](int32_t k, size_t which) { return at[size_t(k < lanes ? k : 0) * stride + which]; };
            u = _mm256_setr_ps(coordinate(0, 0), coordinate(1, 0), coordinate(2, 0), coordinate(3, 0), coordinate(4, 0),
                               coordinate(5, 0), coordinate(6, 0), coordinate(7, 0));
            v = _mm256_setr_ps(coordinate(0, 1), coordinate(1, 1), coordinate(2, 1), coordinate(3, 1), coordinate(4, 1),
                               coordinate(5, 1), coordinate(6, 1), coordinate(7, 1));
        }
        // Ordered comparisons: a coordinate that is not a number is outside.
        const __m256 in = _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(u, zero, _CMP_GE_OQ), _mm256_cmp_ps(u, one, _CMP_LE_OQ)),
                                        _mm256_and_ps(_mm256_cmp_ps(v, zero, _CMP_GE_OQ), _mm256_cmp_ps(v, one, _CMP_LE_OQ)));
        // max takes its second operand when the first is not a number, so
        // every lane's position lies on the texture.
        const __m256 x = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(_mm256_mul_ps(u, width), half), zero), lastColumn);
        const __m256 y = _mm256_min_ps(_mm256_max_ps(_mm256_sub_ps(_mm256_mul_ps(v, height), half), zero), lastRow);
        const __m256i x0 = _mm256_cvttps_epi32(x);
        const __m256i y0 = _mm256_cvttps_epi32(y);
        const __m256 fractionX = _mm256_sub_ps(x, _mm256_cvtepi32_ps(x0));
        const __m256 fractionY = _mm256_sub_ps(y, _mm256_cvtepi32_ps(y0));
        _mm256_store_ps(fx, fractionX);
        _mm256_store_ps(fy, fractionY);
        _mm256_store_ps(gx, _mm256_sub_ps(one, fractionX));
        _mm256_store_ps(gy, _mm256_sub_ps(one, fractionY));
        _mm256_store_si256(reinterpret_cast<__m256i*>(columns), x0);
        _mm256_store_si256(reinterpret_cast<__m256i*>(rows), y0);
        _mm256_store_si256(reinterpret_cast<__m256i*>(right), _mm256_cmpgt_epi32(lastColumnIndex, x0));
        _mm256_store_si256(reinterpret_cast<__m256i*>(below), _mm256_cmpgt_epi32(lastRowIndex, y0));
        _mm256_store_si256(reinterpret_cast<__m256i*>(inside), _mm256_castps_si256(in));
        // The rows under a span are read from left to right, the lower one
        // usually for the first time: it is asked for ahead of the filter.
        // Addresses as numbers: past the last row there is nothing to point at,
        // and a prefetch of it is harmless.
        if (inside[0]) {
            const uintptr_t tap = reinterpret_cast<uintptr_t>(view.texels) +
                                  (size_t(rows[0]) * view.rowStride + size_t(columns[0]) * 4) * sizeof(float);
            const uintptr_t down = below[0] ? view.rowStride * sizeof(float) : 0;
            for (const uintptr_t line : {tap + kPrefetchBytes, tap + kPrefetchBytes + 64}) {
                _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(line + down), _MM_HINT_T0);
            }
        }
        for (int32_t k = 0; k < lanes; ++k) {
            float* out = rgba + size_t(from + k) * 4;
            if (!inside[k]) {
                _mm_storeu_ps(out, _mm_setzero_ps());
                continue;
            }
            const float* t00 = view.texels + size_t(rows[k]) * view.rowStride + size_t(columns[k]) * 4;
            const float* t10 = right[k] ? t00 + 4 : t00;
            const size_t down = below[k] ? view.rowStride : 0;
            const __m128 wx = _mm_set1_ps(gx[k]);
            const __m128 ex = _mm_set1_ps(fx[k]);
            const __m128 upper = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(t00), wx), _mm_mul_ps(_mm_loadu_ps(t10), ex));
            const __m128 lower =
                _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(t00 + down), wx), _mm_mul_ps(_mm_loadu_ps(t10 + down), ex));
            _mm_storeu_ps(out, _mm_add_ps(_mm_mul_ps(upper, _mm_set1_ps(gy[k])), _mm_mul_ps(lower, _mm_set1_ps(fy[k]))));
        }
    }
}

size_t interpolatePair(const double start[3], const double step[3], const double a[3], const double b[3],
                       double inverseArea, size_t count, float* out) {
    const __m256d s0 = _mm256_set1_pd(start[0]), s1 = _mm256_set1_pd(start[1]), s2 = _mm256_set1_pd(start[2]);
    const __m256d d0 = _mm256_set1_pd(step[0]), d1 = _mm256_set1_pd(step[1]), d2 = _mm256_set1_pd(step[2]);
    const __m256d a0 = _mm256_set1_pd(a[0]), a1 = _mm256_set1_pd(a[1]), a2 = _mm256_set1_pd(a[2]);
    const __m256d b0 = _mm256_set1_pd(b[0]), b1 = _mm256_set1_pd(b[1]), b2 = _mm256_set1_pd(b[2]);
    const __m256d inverse = _mm256_set1_pd(inverseArea);
    __m256d n = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
    const __m256d four = _mm256_set1_pd(4.0);
    size_t i = 0;
    for (; i + 4 <= count; i += 4, n = _mm256_add_pd(n, four)) {
        const __m256d w0 = _mm256_add_pd(s0, _mm256_mul_pd(n, d0));
        const __m256d w1 = _mm256_add_pd(s1, _mm256_mul_pd(n, d1));
        const __m256d w2 = _mm256_add_pd(s2, _mm256_mul_pd(n, d2));
        const __m256d first = _mm256_mul_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(w0, a0), _mm256_mul_pd(w1, a1)), _mm256_mul_pd(w2, a2)), inverse);
        const __m256d second = _mm256_mul_pd(
            _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(w0, b0), _mm256_mul_pd(w1, b1)), _mm256_mul_pd(w2, b2)), inverse);
        const __m128 f = _mm256_cvtpd_ps(first);
        const __m128 g = _mm256_cvtpd_ps(second);
        _mm_storeu_ps(out + 2 * i, _mm_unpacklo_ps(f, g));
        _mm_storeu_ps(out + 2 * i + 4, _mm_unpackhi_ps(f, g));
    }
    return i;
}

size_t storeBgraBytes(const float* rgba, size_t count, uint8_t* bgra) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 scale = _mm256_set1_ps(255.0f);
    // In each 128-bit lane (one pixel of four int32 values, R G B A), the low
    // bytes of B, G, R and A side by side.
    const __m256i order = _mm256_setr_epi8(8, 4, 0, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                           8, 4, 0, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    size_t p = 0;
    for (; p + 2 <= count; p += 2) {
        __m256 v = _mm256_loadu_ps(rgba + 4 * p);
        // Not at least 0 (NaN too) gives 0, then at most 1; nearest, ties to
        // even, as nearbyint rounds in the default mode.
        v = _mm256_and_ps(v, _mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_GE_OQ));
        v = _mm256_min_ps(v, one);
        v = _mm256_round_ps(_mm256_mul_ps(v, scale), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        const __m256i bytes = _mm256_shuffle_epi8(_mm256_cvttps_epi32(v), order);
        const uint32_t first = uint32_t(_mm256_extract_epi32(bytes, 0));
        const uint32_t second = uint32_t(_mm256_extract_epi32(bytes, 4));
        std::memcpy(bgra + 4 * p, &first, 4);
        std::memcpy(bgra + 4 * p + 4, &second, 4);
    }
    return p;
}

}  // namespace kv::metal::avx2

KV_VECTOR_CODE_END

namespace kv::metal::avx2 {
bool supported() { return cpuHasAvx2(); }
}  // namespace kv::metal::avx2

#else

namespace kv::metal::avx2 {
bool supported() { return false; }
void filterSpan(const TexelView&, const float*, size_t, int32_t, float*) {}
size_t interpolatePair(const double*, const double*, const double*, const double*, double, size_t, float*) { return 0; }
size_t storeBgraBytes(const float*, size_t, uint8_t*) { return 0; }
}  // namespace kv::metal::avx2

#endif
