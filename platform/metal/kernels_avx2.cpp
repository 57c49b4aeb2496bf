#include "platform/metal/kernels_avx2.h"

#include <cstdint>
#include <cstring>

#include "platform/foundation/vector_units.h"
#include "platform/metal/mtl_texture.h"
#include "platform/metal/texel_pairs.h"

#if defined(KV_X86_VECTOR_CODE)
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

// Eight coordinate pairs of a span from `at`, u and v apart; lanes past
// `lanes` repeat the first pixel.
inline void loadCoordinates(const float* at, size_t stride, int32_t lanes, __m256& u, __m256& v) {
    if (stride == 2 && lanes == 8) {
        // u0 v0 … u7 v7 into u0 … u7 and v0 … v7.
        const __m256 a = _mm256_loadu_ps(at);
        const __m256 b = _mm256_loadu_ps(at + 8);
        u = inOrder(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        v = inOrder(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        return;
    }
    alignas(32) float us[8], vs[8];
    for (int32_t k = 0; k < 8; ++k) {
        const float* pair = at + size_t(k < lanes ? k : 0) * stride;
        us[k] = pair[0];
        vs[k] = pair[1];
    }
    u = _mm256_load_ps(us);
    v = _mm256_load_ps(vs);
}

// Ordered comparisons: a coordinate that is not a number is outside.
inline __m256 insideTexture(__m256 u, __m256 v) {
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    return _mm256_and_ps(_mm256_and_ps(_mm256_cmp_ps(u, zero, _CMP_GE_OQ), _mm256_cmp_ps(u, one, _CMP_LE_OQ)),
                         _mm256_and_ps(_mm256_cmp_ps(v, zero, _CMP_GE_OQ), _mm256_cmp_ps(v, one, _CMP_LE_OQ)));
}

// A position in texels held between the outermost texel centres; max takes
// its second operand when the first is not a number, so every lane's
// position lies on the texture.
inline __m256 texelPosition(__m256 coordinate, int32_t size) {
    const __m256 scaled = _mm256_sub_ps(_mm256_mul_ps(coordinate, _mm256_set1_ps(float(size))), _mm256_set1_ps(0.5f));
    return _mm256_min_ps(_mm256_max_ps(scaled, _mm256_setzero_ps()), _mm256_set1_ps(float(size - 1)));
}

// How far ahead of a span's first tap its rows are fetched: a few cache
// lines, as far as the filter gets while they arrive.
constexpr uintptr_t kPrefetchBytes = 512;

}  // namespace

void filterSpan(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256i lastColumnIndex = _mm256_set1_epi32(view.width - 1);
    const __m256i lastRowIndex = _mm256_set1_epi32(view.height - 1);
    alignas(32) float gx[8], fx[8], gy[8], fy[8];
    alignas(32) int32_t columns[8], rows[8], right[8], below[8], inside[8];
    for (int32_t from = 0; from < count; from += 8) {
        const int32_t lanes = count - from < 8 ? count - from : 8;
        const float* at = coordinates + size_t(from) * stride;
        // Lanes past the span repeat its first pixel and are not stored.
        __m256 u;
        __m256 v;
        loadCoordinates(at, stride, lanes, u, v);
        const __m256 in = insideTexture(u, v);
        const __m256 x = texelPosition(u, view.width);
        const __m256 y = texelPosition(v, view.height);
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

namespace {

// Four pixels' texel pairs (8 bytes each) at `offset` past their own
// offsets: pixels 0, 1 in the low half, 2, 3 in the high.
inline __m256i fourPairs(const uint8_t* texels, const int32_t* offsets, size_t offset) {
    const auto pair = [&](int32_t k) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(texels + uint32_t(offsets[k]) + offset));
    };
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi64(pair(0), pair(1))),
                                   _mm_unpacklo_epi64(pair(2), pair(3)), 1);
}

// A byte shuffle of one 16-byte lane, for each lane.
inline __m256i inEachLane(const std::array<int8_t, 16>& shuffle) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle.data())));
}

// The pairs of four pixels filtered across: a + (b − a)·w per channel, in
// 1/128 steps, pixel after pixel in R, G, B, A order.
inline __m256i acrossPairs(__m256i pairs, __m256i weights) {
    const __m256i firstOfPair = inEachLane(kFirstOfPair), secondOfPair = inEachLane(kSecondOfPair);
    const __m256i a = _mm256_slli_epi16(_mm256_shuffle_epi8(pairs, firstOfPair), 7);
    const __m256i b = _mm256_slli_epi16(_mm256_shuffle_epi8(pairs, secondOfPair), 7);
    return _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), weights));
}

// Each of four 32-bit lanes' weight (below 2^15) in the four 16-bit
// channels of its pixel, the lanes from `lanes`.
inline __m256i channelWeights(__m256i weights, __m256i lanes) {
    const __m256i spread = _mm256_permutevar8x32_epi32(weights, lanes);
    return _mm256_or_si256(spread, _mm256_slli_epi32(spread, 16));
}

// Two pixels of 16-bit channels as floats, zero where `inside` says so.
inline __m256 channelFloats(__m128i channels, __m256 inside, __m256i pixels) {
    const __m256 value = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(channels)),
                                       _mm256_set1_ps(1.0f / (255.0f * 128.0f)));
    return _mm256_and_ps(value, _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(_mm256_castps_si256(inside), pixels)));
}

}  // namespace

void filterBgraSpan(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba) {
    const __m256i lastPairColumn = _mm256_set1_epi32(view.width - 2);
    const __m256i lastPairRow = _mm256_set1_epi32(view.height - 2);
    const __m256 full = _mm256_set1_ps(32768.0f);
    const __m256i mostWeight = _mm256_set1_epi32(32767);
    const __m256i rowBytes = _mm256_set1_epi32(int32_t(view.rowBytes));
    const __m256i first4 = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3), last4 = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
    alignas(32) int32_t offsets[8];
    alignas(32) float pixels[32];
    for (int32_t from = 0; from < count; from += 8) {
        const int32_t lanes = count - from < 8 ? count - from : 8;
        __m256 u;
        __m256 v;
        loadCoordinates(coordinates + size_t(from) * stride, stride, lanes, u, v);
        const __m256 in = insideTexture(u, v);
        const __m256 x = texelPosition(u, view.width);
        const __m256 y = texelPosition(v, view.height);
        const __m256i x0 = _mm256_min_epi32(_mm256_cvttps_epi32(x), lastPairColumn);
        const __m256i y0 = _mm256_min_epi32(_mm256_cvttps_epi32(y), lastPairRow);
        const auto weight = [&](__m256 position, __m256i start) {
            const __m256 fraction = _mm256_sub_ps(position, _mm256_cvtepi32_ps(start));
            return _mm256_min_epi32(_mm256_cvtps_epi32(_mm256_mul_ps(fraction, full)), mostWeight);
        };
        const __m256i wx = weight(x, x0);
        const __m256i wy = weight(y, y0);
        _mm256_store_si256(reinterpret_cast<__m256i*>(offsets),
                           _mm256_add_epi32(_mm256_mullo_epi32(y0, rowBytes), _mm256_slli_epi32(x0, 2)));
        __m256i filtered[2];
        for (int half = 0; half < 2; ++half) {
            const __m256i which = half ? last4 : first4;
            const __m256i across = channelWeights(wx, which);
            const __m256i top = acrossPairs(fourPairs(view.bgra, offsets + 4 * half, 0), across);
            const __m256i bottom = acrossPairs(fourPairs(view.bgra, offsets + 4 * half, view.rowBytes), across);
            filtered[half] =
                _mm256_add_epi16(top, _mm256_mulhrs_epi16(_mm256_sub_epi16(bottom, top), channelWeights(wy, which)));
        }
        float* const out = lanes == 8 ? rgba + size_t(from) * 4 : pixels;
        for (int pair = 0; pair < 4; ++pair) {
            const __m256i four = filtered[pair / 2];
            const __m128i two = pair % 2 ? _mm256_extracti128_si256(four, 1) : _mm256_castsi256_si128(four);
            const __m256i lanesOfPair = _mm256_setr_epi32(2 * pair, 2 * pair, 2 * pair, 2 * pair, 2 * pair + 1,
                                                          2 * pair + 1, 2 * pair + 1, 2 * pair + 1);
            _mm256_storeu_ps(out + 8 * pair, channelFloats(two, in, lanesOfPair));
        }
        if (lanes < 8) std::memcpy(rgba + size_t(from) * 4, pixels, size_t(lanes) * 4 * sizeof(float));
    }
}

size_t interpolatePair(const double start[3], const double step[3], const double a[3], const double b[3],
                       double inverseArea, size_t from, size_t count, float* out) {
    const __m256d s0 = _mm256_set1_pd(start[0]), s1 = _mm256_set1_pd(start[1]), s2 = _mm256_set1_pd(start[2]);
    const __m256d d0 = _mm256_set1_pd(step[0]), d1 = _mm256_set1_pd(step[1]), d2 = _mm256_set1_pd(step[2]);
    const __m256d a0 = _mm256_set1_pd(a[0]), a1 = _mm256_set1_pd(a[1]), a2 = _mm256_set1_pd(a[2]);
    const __m256d b0 = _mm256_set1_pd(b[0]), b1 = _mm256_set1_pd(b[1]), b2 = _mm256_set1_pd(b[2]);
    const __m256d inverse = _mm256_set1_pd(inverseArea);
    __m256d n = _mm256_add_pd(_mm256_set_pd(3.0, 2.0, 1.0, 0.0), _mm256_set1_pd(double(from)));
    const __m256d four = _mm256_set1_pd(4.0);
    size_t i = from;
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
bool supported() { return widestVectorUnits() >= VectorUnits::avx2; }
}  // namespace kv::metal::avx2

#else

namespace kv::metal::avx2 {
bool supported() { return false; }
void filterSpan(const TexelView&, const float*, size_t, int32_t, float*) {}
void filterBgraSpan(const TexelView&, const float*, size_t, int32_t, float*) {}
size_t interpolatePair(const double*, const double*, const double*, const double*, double, size_t from, size_t,
                       float*) {
    return from;
}
size_t storeBgraBytes(const float*, size_t, uint8_t*) { return 0; }
}  // namespace kv::metal::avx2

#endif
