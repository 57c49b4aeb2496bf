#include "platform/metal/kernels_avx512.h"

#include "platform/foundation/vector_units.h"
#include "platform/metal/mtl_texture.h"
#include "platform/metal/texel_pairs.h"

#if defined(KV_X86_VECTOR_CODE)
#include <immintrin.h>

// Everything up to the end mark is compiled for AVX-512 (without FMA: the
// products and sums stay separate, as in the plain loop).
KV_AVX512_CODE_BEGIN

namespace kv::metal::avx512 {
namespace {

// Sixteen coordinate pairs of a span from `at`, u and v apart.
inline void loadCoordinates(const float* at, size_t stride, __m512& u, __m512& v) {
    if (stride == 2) {
        const __m512 a = _mm512_loadu_ps(at);
        const __m512 b = _mm512_loadu_ps(at + 16);
        u = _mm512_permutex2var_ps(a, _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30), b);
        v = _mm512_permutex2var_ps(a, _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31), b);
        return;
    }
    alignas(64) float us[16], vs[16];
    for (size_t k = 0; k < 16; ++k) {
        us[k] = at[k * stride];
        vs[k] = at[k * stride + 1];
    }
    u = _mm512_load_ps(us);
    v = _mm512_load_ps(vs);
}

// Ordered comparisons: a coordinate that is not a number is outside.
inline __mmask16 insideTexture(__m512 u, __m512 v) {
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    return _mm512_cmp_ps_mask(u, zero, _CMP_GE_OQ) & _mm512_cmp_ps_mask(u, one, _CMP_LE_OQ) &
           _mm512_cmp_ps_mask(v, zero, _CMP_GE_OQ) & _mm512_cmp_ps_mask(v, one, _CMP_LE_OQ);
}

// A position in texels held between the outermost texel centres; max takes
// its second operand when the first is not a number.
inline __m512 texelPosition(__m512 coordinate, int32_t size) {
    const __m512 scaled = _mm512_sub_ps(_mm512_mul_ps(coordinate, _mm512_set1_ps(float(size))), _mm512_set1_ps(0.5f));
    return _mm512_min_ps(_mm512_max_ps(scaled, _mm512_setzero_ps()), _mm512_set1_ps(float(size - 1)));
}

// A weight in 1/32768, below 2^15, of the fraction `position` lies past `start`.
inline __m512i weight(__m512 position, __m512i start) {
    const __m512 fraction = _mm512_sub_ps(position, _mm512_cvtepi32_ps(start));
    return _mm512_min_epi32(_mm512_cvtps_epi32(_mm512_mul_ps(fraction, _mm512_set1_ps(32768.0f))),
                            _mm512_set1_epi32(32767));
}

// Eight pixels' texel pairs (8 bytes each) at `offset` past their own
// offsets: two pixels in each 128-bit lane.
inline __m512i eightPairs(const uint8_t* texels, const int32_t* offsets, size_t offset) {
    const auto two = [&](int32_t k) {
        const auto pair = [&](int32_t i) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + uint32_t(offsets[i]) + offset));
        };
        return _mm_unpacklo_epi64(pair(k), pair(k + 1));
    };
    const __m256i low = _mm256_inserti128_si256(_mm256_castsi128_si256(two(0)), two(2), 1);
    const __m256i high = _mm256_inserti128_si256(_mm256_castsi128_si256(two(4)), two(6), 1);
    return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
}

// A byte shuffle of one 16-byte lane, for each lane.
inline __m512i inEachLane(const std::array<int8_t, 16>& shuffle) {
    return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle.data())));
}

// The pairs of eight pixels filtered across: a + (b − a)·w per channel, in
// 1/128 steps, pixel after pixel in R, G, B, A order.
inline __m512i acrossPairs(__m512i pairs, __m512i weights) {
    const __m512i firstOfPair = inEachLane(kFirstOfPair), secondOfPair = inEachLane(kSecondOfPair);
    const __m512i a = _mm512_slli_epi16(_mm512_shuffle_epi8(pairs, firstOfPair), 7);
    const __m512i b = _mm512_slli_epi16(_mm512_shuffle_epi8(pairs, secondOfPair), 7);
    return _mm512_add_epi16(a, _mm512_mulhrs_epi16(_mm512_sub_epi16(b, a), weights));
}

// Each pixel's weight (below 2^15) in the four 16-bit channels of its pixel,
// for the eight pixels of `lanes`.
inline __m512i channelWeights(__m512i weights, __m512i lanes) {
    const __m512i spread = _mm512_permutexvar_epi32(lanes, weights);
    return _mm512_or_si512(spread, _mm512_slli_epi32(spread, 16));
}

}  // namespace

int32_t filterBgraSpan(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba) {
    const __m512i lastPairColumn = _mm512_set1_epi32(view.width - 2);
    const __m512i lastPairRow = _mm512_set1_epi32(view.height - 2);
    const __m512i rowBytes = _mm512_set1_epi32(int32_t(view.rowBytes));
    const __m512i pixelLanes[2] = {_mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7),
                                   _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15)};
    const __m512 scale = _mm512_set1_ps(1.0f / (255.0f * 128.0f));
    alignas(64) int32_t offsets[16];
    int32_t from = 0;
    for (; from + 16 <= count; from += 16) {
        __m512 u;
        __m512 v;
        loadCoordinates(coordinates + size_t(from) * stride, stride, u, v);
        const __mmask16 in = insideTexture(u, v);
        const __m512 x = texelPosition(u, view.width);
        const __m512 y = texelPosition(v, view.height);
        const __m512i x0 = _mm512_min_epi32(_mm512_cvttps_epi32(x), lastPairColumn);
        const __m512i y0 = _mm512_min_epi32(_mm512_cvttps_epi32(y), lastPairRow);
        const __m512i wx = weight(x, x0);
        const __m512i wy = weight(y, y0);
        _mm512_store_si512(offsets, _mm512_add_epi32(_mm512_mullo_epi32(y0, rowBytes), _mm512_slli_epi32(x0, 2)));
        float* const out = rgba + size_t(from) * 4;
        for (int eighth = 0; eighth < 2; ++eighth) {
            const int32_t* at = offsets + 8 * eighth;
            const __m512i across = channelWeights(wx, pixelLanes[eighth]);
            const __m512i top = acrossPairs(eightPairs(view.bgra, at, 0), across);
            const __m512i bottom = acrossPairs(eightPairs(view.bgra, at, view.rowBytes), across);
            const __m512i down = channelWeights(wy, pixelLanes[eighth]);
            const __m512i filtered = _mm512_add_epi16(top, _mm512_mulhrs_epi16(_mm512_sub_epi16(bottom, top), down));
            // Four pixels at a time as floats, zero outside the texture.
            for (int quarter = 0; quarter < 2; ++quarter) {
                const int first = 8 * eighth + 4 * quarter;
                const unsigned pixels = (unsigned(in) >> first) & 0xF;
                __mmask16 inside = 0;
                for (int k = 0; k < 4; ++k) inside |= __mmask16((pixels >> k & 1) ? 0xF << (4 * k) : 0);
                const __m256i channels =
                    quarter ? _mm512_extracti64x4_epi64(filtered, 1) : _mm512_castsi512_si256(filtered);
                const __m512 value = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(channels));
                _mm512_storeu_ps(out + 4 * first, _mm512_maskz_mul_ps(inside, value, scale));
            }
        }
    }
    return from;
}

size_t interpolatePair(const double start[3], const double step[3], const double a[3], const double b[3],
                       double inverseArea, size_t count, float* out) {
    const __m512d s0 = _mm512_set1_pd(start[0]), s1 = _mm512_set1_pd(start[1]), s2 = _mm512_set1_pd(start[2]);
    const __m512d d0 = _mm512_set1_pd(step[0]), d1 = _mm512_set1_pd(step[1]), d2 = _mm512_set1_pd(step[2]);
    const __m512d a0 = _mm512_set1_pd(a[0]), a1 = _mm512_set1_pd(a[1]), a2 = _mm512_set1_pd(a[2]);
    const __m512d b0 = _mm512_set1_pd(b[0]), b1 = _mm512_set1_pd(b[1]), b2 = _mm512_set1_pd(b[2]);
    const __m512d inverse = _mm512_set1_pd(inverseArea);
    // The two values of each pixel side by side.
    const __m512i sideBySide = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    __m512d n = _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0);
    const __m512d eight = _mm512_set1_pd(8.0);
    size_t i = 0;
    for (; i + 8 <= count; i += 8, n = _mm512_add_pd(n, eight)) {
        const __m512d w0 = _mm512_add_pd(s0, _mm512_mul_pd(n, d0));
        const __m512d w1 = _mm512_add_pd(s1, _mm512_mul_pd(n, d1));
        const __m512d w2 = _mm512_add_pd(s2, _mm512_mul_pd(n, d2));
        const __m512d first = _mm512_mul_pd(
            _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(w0, a0), _mm512_mul_pd(w1, a1)), _mm512_mul_pd(w2, a2)), inverse);
        const __m512d second = _mm512_mul_pd(
            _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(w0, b0), _mm512_mul_pd(w1, b1)), _mm512_mul_pd(w2, b2)), inverse);
        const __m512 f = _mm512_castps256_ps512(_mm512_cvtpd_ps(first));
        const __m512 g = _mm512_castps256_ps512(_mm512_cvtpd_ps(second));
        _mm512_storeu_ps(out + 2 * i, _mm512_permutex2var_ps(f, sideBySide, g));
    }
    return i;
}

size_t storeBgraBytes(const float* rgba, size_t count, uint8_t* bgra) {
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f), scale = _mm512_set1_ps(255.0f);
    // Each pixel's R G B A values as B G R A.
    const __m512i order = _mm512_setr_epi32(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    size_t p = 0;
    for (; p + 4 <= count; p += 4) {
        __m512 v = _mm512_loadu_ps(rgba + 4 * p);
        // Not at least 0 (NaN too) gives 0, then at most 1; nearest, ties to
        // even, as nearbyint rounds in the default mode.
        v = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(v, zero, _CMP_GE_OQ), v);
        v = _mm512_min_ps(v, one);
        v = _mm512_roundscale_ps(_mm512_mul_ps(v, scale), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        const __m512i values = _mm512_permutexvar_epi32(order, _mm512_cvttps_epi32(v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bgra + 4 * p), _mm512_cvtepi32_epi8(values));
    }
    return p;
}

}  // namespace kv::metal::avx512

KV_AVX512_CODE_END

namespace kv::metal::avx512 {
bool supported() { return widestVectorUnits() >= VectorUnits::avx512; }
}  // namespace kv::metal::avx512

#else

namespace kv::metal::avx512 {
bool supported() { return false; }
int32_t filterBgraSpan(const TexelView&, const float*, size_t, int32_t, float*) { return 0; }
size_t interpolatePair(const double*, const double*, const double*, const double*, double, size_t, float*) { return 0; }
size_t storeBgraBytes(const float*, size_t, uint8_t*) { return 0; }
}  // namespace kv::metal::avx512

#endif
