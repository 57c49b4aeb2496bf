#include "host/video/yuv_to_float.h"

#include "platform/foundation/vector_units.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>

#if defined(KV_X86_VECTOR_CODE)
#include <immintrin.h>
#endif

namespace kv {

namespace {

// Rounds a factor in 1/65536 to the scaler's 16-bit integer.
int32_t roundToInt16(int64_t f) {
    const int r = int((f + (1 << 15)) >> 16);
    if (r < -0x7FFF) return int16_t(0x8000);
    if (r > 0x7FFF) return 0x7FFF;
    return int16_t(r);
}

constexpr float kUnit = 1.0f / 65535.0f;

// More row taps than a bicubic upscale ever has.
constexpr int kMaxRowTaps = 8;

// The scaler's chroma columns from output `from` on: weights applied to
// 8-bit samples, kept as 19-bit values.
void filterColumnsPlain(const uint8_t* in, const ScaleFilter& filter, int from, int outputs, int32_t* out) {
    const int taps = filter.taps;
    for (int i = from; i < outputs; ++i) {
        const uint8_t* at = in + filter.first[size_t(i)];
        const int16_t* w = filter.weights.data() + size_t(i) * size_t(taps);
        int value = 0;
        for (int j = 0; j < taps; ++j) value += int(at[j]) * w[j];
        out[i] = std::min(value >> 3, (1 << 19) - 1);
    }
}

// Sums weighted rows as the scaler does: in 32 bits that wrap.
inline int32_t sumRows(const int32_t* const* rows, const int16_t* weights, int taps, int x, uint32_t start) {
    uint32_t sum = start;
    for (int j = 0; j < taps; ++j) sum += uint32_t(rows[j][x]) * uint32_t(int32_t(weights[j]));
    return int32_t(sum);
}

inline uint32_t clip16(int32_t value) { return uint32_t(std::clamp(value, 0, 65535)); }

// The byte nearest kUnit × value, as unormByte rounds that float: value ×
// 255/65535 to nearest, which never lies halfway.
inline uint32_t byteOf16(uint32_t value) { return (value * 255u + 32895u) >> 16; }

// One picture row from its luma and the chroma rows under it; the plain
// version, which the vector one matches.
void outputRowPlain(const uint8_t* luma, const int32_t* const* u, const int32_t* const* v, const int16_t* weights,
                    int taps, const YuvToFloat::Matrix& m, int from, int width, PixelLayout layout, std::byte* row) {
    float* const out = reinterpret_cast<float*>(row);
    uint8_t* const bytes = reinterpret_cast<uint8_t*>(row);
    for (int x = from; x < width; ++x) {
        const int32_t U = sumRows(u, weights, taps, x, uint32_t(-(128 << 23))) >> 14;
        const int32_t V = sumRows(v, weights, taps, x, uint32_t(-(128 << 23))) >> 14;
        const uint32_t Y = uint32_t((int32_t(luma[x]) << 9) - m.yOffset) * uint32_t(m.yCoeff) +
                           uint32_t((1 << 13) - (1 << 29));
        const uint32_t R = uint32_t(V) * uint32_t(m.v2r);
        const uint32_t G = uint32_t(V) * uint32_t(m.v2g) + uint32_t(U) * uint32_t(m.u2g);
        const uint32_t B = uint32_t(U) * uint32_t(m.u2b);
        const uint32_t red = clip16((int32_t(Y + R) >> 14) + (1 << 15));
        const uint32_t green = clip16((int32_t(Y + G) >> 14) + (1 << 15));
        const uint32_t blue = clip16((int32_t(Y + B) >> 14) + (1 << 15));
        if (layout == PixelLayout::bgraBytes) {
            bytes[4 * x + 0] = uint8_t(byteOf16(blue));
            bytes[4 * x + 1] = uint8_t(byteOf16(green));
            bytes[4 * x + 2] = uint8_t(byteOf16(red));
            bytes[4 * x + 3] = 255;
            continue;
        }
        out[4 * x + 0] = kUnit * float(red);
        out[4 * x + 1] = kUnit * float(green);
        out[4 * x + 2] = kUnit * float(blue);
        out[4 * x + 3] = 1.0f;
    }
}

#if defined(KV_X86_VECTOR_CODE)
// The vector versions take luma's ((l << 9) − yOffset) × yCoeff + round as
// (l × yCoeff) << 9 plus this constant: the same in 32 bits that wrap, with
// l × yCoeff in one 16-bit multiply-add.
int32_t lumaConstant(const YuvToFloat::Matrix& m) {
    return int32_t(uint32_t((1 << 13) - (1 << 29)) - uint32_t(m.yOffset) * uint32_t(m.yCoeff));
}

KV_VECTOR_CODE_BEGIN("avx2")

// Eight pixels at a time from `from` on; returns where the plain version
// must go on. `kTaps` is the row filter's length when known at compile time
// (0: `taps`), so that the common lengths keep their weights and rows in
// registers.
template <int kTaps>
int outputRowAvx2(const uint8_t* luma, const int32_t* const* uRows, const int32_t* const* vRows,
                  const int16_t* weights, int taps, const YuvToFloat::Matrix& m, int from, int width,
                  PixelLayout layout, std::byte* row) {
    if constexpr (kTaps > 0) taps = kTaps;
    const int32_t* u[kMaxRowTaps];
    const int32_t* v[kMaxRowTaps];
    __m256i w[kMaxRowTaps];
    for (int j = 0; j < taps; ++j) {
        u[j] = uRows[j];
        v[j] = vRows[j];
        w[j] = _mm256_set1_epi32(weights[j]);
    }
    float* const out = reinterpret_cast<float*>(row);
    const __m256i start = _mm256_set1_epi32(-(128 << 23));
    const __m256i yCoeff = _mm256_set1_epi32(m.yCoeff & 0xFFFF), yConstant = _mm256_set1_epi32(lumaConstant(m));
    const __m256i v2r = _mm256_set1_epi32(m.v2r), v2g = _mm256_set1_epi32(m.v2g);
    const __m256i u2g = _mm256_set1_epi32(m.u2g), u2b = _mm256_set1_epi32(m.u2b);
    const __m256i half = _mm256_set1_epi32(1 << 15), zero = _mm256_setzero_si256(), top = _mm256_set1_epi32(65535);
    const __m256 unit = _mm256_set1_ps(kUnit), one = _mm256_set1_ps(1.0f);
    const __m256i byteRound = _mm256_set1_epi32(32895), opaque = _mm256_set1_epi32(int32_t(0xFF000000u));
    const bool aligned = reinterpret_cast<uintptr_t>(out) % 32 == 0;
    int x = from;
    for (; x + 8 <= width; x += 8) {
        __m256i U = start, V = start;
#pragma GCC unroll 8
        for (int j = 0; j < taps; ++j) {
            U = _mm256_add_epi32(U, _mm256_mullo_epi32(_mm256_loadu_si256((const __m256i*)(u[j] + x)), w[j]));
            V = _mm256_add_epi32(V, _mm256_mullo_epi32(_mm256_loadu_si256((const __m256i*)(v[j] + x)), w[j]));
        }
        U = _mm256_srai_epi32(U, 14);
        V = _mm256_srai_epi32(V, 14);
        const __m256i l = _mm256_cvtepu8_epi32(_mm_loadl_epi64((const __m128i*)(luma + x)));
        const __m256i Y = _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(l, yCoeff), 9), yConstant);
        const __m256i R = _mm256_mullo_epi32(V, v2r);
        const __m256i G = _mm256_add_epi32(_mm256_mullo_epi32(V, v2g), _mm256_mullo_epi32(U, u2g));
        const __m256i B = _mm256_mullo_epi32(U, u2b);
        auto clipped = [&](__m256i c) {
            c = _mm256_add_epi32(_mm256_srai_epi32(_mm256_add_epi32(Y, c), 14), half);
            return _mm256_min_epi32(_mm256_max_epi32(c, zero), top);
        };
        if (layout == PixelLayout::bgraBytes) {
            // byteOf16: value × 255 as (value << 8) − value.
            const auto byteOf = [&](__m256i c) {
                c = clipped(c);
                return _mm256_srli_epi32(_mm256_add_epi32(_mm256_sub_epi32(_mm256_slli_epi32(c, 8), c), byteRound), 16);
            };
            const __m256i pixels = _mm256_or_si256(_mm256_or_si256(byteOf(B), _mm256_slli_epi32(byteOf(G), 8)),
                                                   _mm256_or_si256(_mm256_slli_epi32(byteOf(R), 16), opaque));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 4 * x), pixels);
            continue;
        }
        auto channel = [&](__m256i c) { return _mm256_mul_ps(unit, _mm256_cvtepi32_ps(clipped(c))); };
        const __m256 r = channel(R), g = channel(G), b = channel(B);
        // Planes to pixels: pairs within each 128-bit half, then halves.
        const __m256 rg0 = _mm256_unpacklo_ps(r, g), rg1 = _mm256_unpackhi_ps(r, g);
        const __m256 ba0 = _mm256_unpacklo_ps(b, one), ba1 = _mm256_unpackhi_ps(b, one);
        const __m256 p04 = _mm256_shuffle_ps(rg0, ba0, 0x44), p15 = _mm256_shuffle_ps(rg0, ba0, 0xEE);
        const __m256 p26 = _mm256_shuffle_ps(rg1, ba1, 0x44), p37 = _mm256_shuffle_ps(rg1, ba1, 0xEE);
        const __m256 q[4] = {_mm256_permute2f128_ps(p04, p15, 0x20), _mm256_permute2f128_ps(p26, p37, 0x20),
                             _mm256_permute2f128_ps(p04, p15, 0x31), _mm256_permute2f128_ps(p26, p37, 0x31)};
        float* at = out + 4 * x;
        // Whole rows go straight to memory, past the caches: writing the
        // picture is what this pass is bound by.
        if (aligned) {
            _mm256_stream_ps(at, q[0]);
            _mm256_stream_ps(at + 8, q[1]);
            _mm256_stream_ps(at + 16, q[2]);
            _mm256_stream_ps(at + 24, q[3]);
        } else {
            _mm256_storeu_ps(at, q[0]);
            _mm256_storeu_ps(at + 8, q[1]);
            _mm256_storeu_ps(at + 16, q[2]);
            _mm256_storeu_ps(at + 24, q[3]);
        }
    }
    return x;
}

// Eight column outputs a block, from the 16-byte window under each.
void filterColumnBlocksAvx2(const uint8_t* in, const int32_t* start, const uint8_t* spread, const int16_t* pairs,
                            int groups, int first, int blocks, int32_t* out) {
    const __m256i lowBytes = _mm256_set1_epi16(0x00FF), top = _mm256_set1_epi32((1 << 19) - 1);
    for (int b = first; b < blocks; ++b) {
        const __m256i window = _mm256_broadcastsi128_si256(_mm_loadu_si128((const __m128i*)(in + start[b])));
        __m256i sum = _mm256_setzero_si256();
        for (int g = 0; g < groups; ++g) {
            const size_t at = size_t(b) * size_t(groups) + size_t(g);
            // Each 32-bit lane holds one output's four samples of the group.
            const __m256i taps = _mm256_shuffle_epi8(window, _mm256_loadu_si256((const __m256i*)(spread + 32 * at)));
            const __m256i even = _mm256_and_si256(taps, lowBytes), odd = _mm256_srli_epi16(taps, 8);
            const auto weights = [&](size_t half) { return _mm256_loadu_si256((const __m256i*)(pairs + 32 * at + half)); };
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(even, weights(0)));
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(odd, weights(16)));
        }
        _mm256_storeu_si256((__m256i*)(out + 8 * b), _mm256_min_epi32(_mm256_srai_epi32(sum, 3), top));
    }
}

KV_VECTOR_CODE_END

KV_AVX512_CODE_BEGIN

// Sixteen pixels at a time, as outputRowAvx2 does eight; returns where the
// narrower versions must go on.
template <int kTaps>
int outputRowAvx512(const uint8_t* luma, const int32_t* const* uRows, const int32_t* const* vRows,
                    const int16_t* weights, int taps, const YuvToFloat::Matrix& m, int width, PixelLayout layout,
                    std::byte* row) {
    if constexpr (kTaps > 0) taps = kTaps;
    const int32_t* u[kMaxRowTaps];
    const int32_t* v[kMaxRowTaps];
    __m512i w[kMaxRowTaps];
    for (int j = 0; j < taps; ++j) {
        u[j] = uRows[j];
        v[j] = vRows[j];
        w[j] = _mm512_set1_epi32(weights[j]);
    }
    float* const out = reinterpret_cast<float*>(row);
    const __m512i start = _mm512_set1_epi32(-(128 << 23));
    const __m512i yCoeff = _mm512_set1_epi32(m.yCoeff & 0xFFFF), yConstant = _mm512_set1_epi32(lumaConstant(m));
    const __m512i v2r = _mm512_set1_epi32(m.v2r), v2g = _mm512_set1_epi32(m.v2g);
    const __m512i u2g = _mm512_set1_epi32(m.u2g), u2b = _mm512_set1_epi32(m.u2b);
    const __m512i half = _mm512_set1_epi32(1 << 15), zero = _mm512_setzero_si512(), top = _mm512_set1_epi32(65535);
    const __m512 unit = _mm512_set1_ps(kUnit), one = _mm512_set1_ps(1.0f);
    const __m512i byteRound = _mm512_set1_epi32(32895), opaque = _mm512_set1_epi32(int32_t(0xFF000000u));
    // Planes to pixels: channel pairs of pixels 0-7 and 8-15, then each
    // red-green pair beside its blue-alpha pair.
    const __m512i pairsLow = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i pairsHigh = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    const __m512i quadsLow = _mm512_setr_epi32(0, 1, 16, 17, 2, 3, 18, 19, 4, 5, 20, 21, 6, 7, 22, 23);
    const __m512i quadsHigh = _mm512_setr_epi32(8, 9, 24, 25, 10, 11, 26, 27, 12, 13, 28, 29, 14, 15, 30, 31);
    const bool aligned = reinterpret_cast<uintptr_t>(out) % 64 == 0;
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m512i U = start, V = start;
#pragma GCC unroll 8
        for (int j = 0; j < taps; ++j) {
            U = _mm512_add_epi32(U, _mm512_mullo_epi32(_mm512_loadu_si512(u[j] + x), w[j]));
            V = _mm512_add_epi32(V, _mm512_mullo_epi32(_mm512_loadu_si512(v[j] + x), w[j]));
        }
        U = _mm512_srai_epi32(U, 14);
        V = _mm512_srai_epi32(V, 14);
        const __m512i l = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x)));
        const __m512i Y = _mm512_add_epi32(_mm512_slli_epi32(_mm512_madd_epi16(l, yCoeff), 9), yConstant);
        const __m512i R = _mm512_mullo_epi32(V, v2r);
        const __m512i G = _mm512_add_epi32(_mm512_mullo_epi32(V, v2g), _mm512_mullo_epi32(U, u2g));
        const __m512i B = _mm512_mullo_epi32(U, u2b);
        auto clipped = [&](__m512i c) {
            c = _mm512_add_epi32(_mm512_srai_epi32(_mm512_add_epi32(Y, c), 14), half);
            return _mm512_min_epi32(_mm512_max_epi32(c, zero), top);
        };
        if (layout == PixelLayout::bgraBytes) {
            const auto byteOf = [&](__m512i c) {
                c = clipped(c);
                return _mm512_srli_epi32(_mm512_add_epi32(_mm512_sub_epi32(_mm512_slli_epi32(c, 8), c), byteRound), 16);
            };
            const __m512i pixels = _mm512_or_si512(_mm512_or_si512(byteOf(B), _mm512_slli_epi32(byteOf(G), 8)),
                                                   _mm512_or_si512(_mm512_slli_epi32(byteOf(R), 16), opaque));
            _mm512_storeu_si512(row + 4 * x, pixels);
            continue;
        }
        auto channel = [&](__m512i c) { return _mm512_mul_ps(unit, _mm512_cvtepi32_ps(clipped(c))); };
        const __m512 r = channel(R), g = channel(G), b = channel(B);
        const __m512 rg0 = _mm512_permutex2var_ps(r, pairsLow, g), rg1 = _mm512_permutex2var_ps(r, pairsHigh, g);
        const __m512 ba0 = _mm512_permutex2var_ps(b, pairsLow, one), ba1 = _mm512_permutex2var_ps(b, pairsHigh, one);
        const __m512 q[4] = {_mm512_permutex2var_ps(rg0, quadsLow, ba0), _mm512_permutex2var_ps(rg0, quadsHigh, ba0),
                             _mm512_permutex2var_ps(rg1, quadsLow, ba1), _mm512_permutex2var_ps(rg1, quadsHigh, ba1)};
        float* at = out + 4 * x;
        for (int k = 0; k < 4; ++k) {
            if (aligned) {
                _mm512_stream_ps(at + 16 * k, q[k]);
            } else {
                _mm512_storeu_ps(at + 16 * k, q[k]);
            }
        }
    }
    return x;
}

// 32 bytes from each of `low` and `high`.
inline __m512i halves(const void* low, const void* high) {
    return _mm512_inserti64x4(_mm512_castsi256_si512(_mm256_loadu_si256(static_cast<const __m256i*>(low))),
                              _mm256_loadu_si256(static_cast<const __m256i*>(high)), 1);
}

// Two blocks of filterColumnBlocksAvx2 at a time, one in each 256-bit half;
// returns how many blocks it did.
int filterColumnBlocksAvx512(const uint8_t* in, const int32_t* start, const uint8_t* spread, const int16_t* pairs,
                             int groups, int blocks, int32_t* out) {
    const __m512i lowBytes = _mm512_set1_epi16(0x00FF), top = _mm512_set1_epi32((1 << 19) - 1);
    int b = 0;
    for (; b + 2 <= blocks; b += 2) {
        const __m512i window =
            _mm512_mask_broadcast_i32x4(_mm512_broadcast_i32x4(_mm_loadu_si128((const __m128i*)(in + start[b]))),
                                        0xFF00, _mm_loadu_si128((const __m128i*)(in + start[b + 1])));
        __m512i sum = _mm512_setzero_si512();
        for (int g = 0; g < groups; ++g) {
            const size_t at = size_t(b) * size_t(groups) + size_t(g), next = at + size_t(groups);
            const __m512i taps = _mm512_shuffle_epi8(window, halves(spread + 32 * at, spread + 32 * next));
            const __m512i even = _mm512_and_si512(taps, lowBytes), odd = _mm512_srli_epi16(taps, 8);
            sum = _mm512_add_epi32(sum, _mm512_madd_epi16(even, halves(pairs + 32 * at, pairs + 32 * next)));
            sum = _mm512_add_epi32(sum, _mm512_madd_epi16(odd, halves(pairs + 32 * at + 16, pairs + 32 * next + 16)));
        }
        _mm512_storeu_si512(out + 8 * b, _mm512_min_epi32(_mm512_srai_epi32(sum, 3), top));
    }
    return b;
}

KV_AVX512_CODE_END

#endif

// Whether `format` is 8-bit planar YUV with one plane per component and
// no alpha: the pictures this conversion covers.
bool isPlanarYuv8(AVPixelFormat format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d || d->nb_components != 3) return false;
    if (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                    AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_ALPHA)) {
        return false;
    }
    if (!(d->flags & AV_PIX_FMT_FLAG_PLANAR)) return false;
    for (int c = 0; c < 3; ++c) {
        if (d->comp[c].plane != c || d->comp[c].depth != 8 || d->comp[c].step != 1 || d->comp[c].shift != 0 ||
            d->comp[c].offset != 0) {
            return false;
        }
    }
    return d->log2_chroma_w <= 2 && d->log2_chroma_h <= 2;
}

// The scaler's position of a plane's first sample, in 1/256 of a sample,
// for planes subsampled by 2^`shift` and its default (centred) siting.
int samplePosition(int shift) { return ((128 << shift) - 128 + 128) >> shift; }

}  // namespace

std::unique_ptr<YuvToFloat> YuvToFloat::make(AVPixelFormat format, int width, int height) {
    if (!isPlanarYuv8(format)) return nullptr;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    const int cw = AV_CEIL_RSHIFT(width, d->log2_chroma_w);
    const int ch = AV_CEIL_RSHIFT(height, d->log2_chroma_h);
    // Small pictures take other paths in the scaler.
    if (cw < 8 || ch < 8 || width > (1 << 16) || height > (1 << 16)) return nullptr;
    std::unique_ptr<YuvToFloat> made(new YuvToFloat(width));
    // The scaler pads its column filters to 4 taps and its row filters to 2.
    made->horizontal_ = bicubicScaleFilter(cw, width, samplePosition(d->log2_chroma_w), samplePosition(0), 4, 1 << 14);
    made->vertical_ = bicubicScaleFilter(ch, height, samplePosition(d->log2_chroma_h), samplePosition(0), 2, 1 << 12);
    if (made->vertical_.taps > kMaxRowTaps || !made->horizontal_.readsWithin(cw) || !made->vertical_.readsWithin(ch)) {
        return nullptr;
    }
    made->blocks_ = columnBlocks(made->horizontal_, cw);
    return made;
}

YuvToFloat::ColumnBlocks YuvToFloat::columnBlocks(const ScaleFilter& filter, int inputs) {
    ColumnBlocks blocks;
    const int groups = filter.taps / 4;
    if (filter.taps % 4 != 0) return blocks;
    const size_t outputs = filter.first.size();
    for (size_t i0 = 0; i0 + 8 <= outputs; i0 += 8) {
        // The window must hold every sample of the block and lie inside the
        // row: near the row's end it ends with the row.
        const int32_t start = std::min(filter.first[i0], inputs - 16);
        if (start < 0 || filter.first[i0 + 7] + filter.taps > start + 16) break;
        blocks.start.push_back(start);
        for (int g = 0; g < groups; ++g) {
            for (size_t k = 0; k < 8; ++k) {
                const int offset = filter.first[i0 + k] - start + 4 * g;
                for (int t = 0; t < 4; ++t) blocks.spread.push_back(uint8_t(offset + t));
            }
            const int16_t* w = filter.weights.data() + i0 * size_t(filter.taps) + size_t(4 * g);
            for (int parity = 0; parity < 2; ++parity) {
                for (size_t k = 0; k < 8; ++k) {
                    blocks.pairs.push_back(w[k * size_t(filter.taps) + size_t(parity)]);
                    blocks.pairs.push_back(w[k * size_t(filter.taps) + size_t(parity) + 2]);
                }
            }
        }
        blocks.outputs += 8;
    }
    return blocks;
}

void YuvToFloat::filterColumns(const uint8_t* row, int32_t* out, VectorUnits units) const {
    int from = 0;
#if defined(KV_X86_VECTOR_CODE)
    if (units >= VectorUnits::avx2) {
        const int groups = horizontal_.taps / 4, blocks = blocks_.outputs / 8;
        int done = 0;
        if (units >= VectorUnits::avx512) {
            done = filterColumnBlocksAvx512(row, blocks_.start.data(), blocks_.spread.data(), blocks_.pairs.data(),
                                            groups, blocks, out);
        }
        filterColumnBlocksAvx2(row, blocks_.start.data(), blocks_.spread.data(), blocks_.pairs.data(), groups, done,
                               blocks, out);
        from = blocks_.outputs;
    }
#else
    (void)units;
#endif
    filterColumnsPlain(row, horizontal_, from, width_, out);
}

void YuvToFloat::setColorspace(const int table[4], bool fullRange) {
    int64_t crv = table[0], cbu = table[1], cgu = -table[2], cgv = -table[3];
    int64_t cy = 1 << 16, oy = 0;
    if (!fullRange) {
        cy = (cy * 255) / 219;
        oy = 16 << 16;
    } else {
        crv = (crv * 224) / 255;
        cbu = (cbu * 224) / 255;
        cgu = (cgu * 224) / 255;
        cgv = (cgv * 224) / 255;
    }
    // Contrast and saturation stay neutral and brightness zero, so the
    // factors go as they are.
    matrix_.yCoeff = roundToInt16(cy * (1 << 13));
    matrix_.yOffset = roundToInt16(oy * (1 << 9));
    matrix_.v2r = roundToInt16(crv * (1 << 13));
    matrix_.v2g = roundToInt16(cgv * (1 << 13));
    matrix_.u2g = roundToInt16(cgu * (1 << 13));
    matrix_.u2b = roundToInt16(cbu * (1 << 13));
}

void YuvToFloat::convertRows(const AVFrame& frame, int firstRow, int rows, PixelLayout layout, std::byte* pixels,
                             size_t bytesPerRow, Scratch& scratch, VectorUnits units) const {
    if (rows <= 0) return;
    const int low = vertical_.first[size_t(firstRow)];
    const int high = vertical_.first[size_t(firstRow + rows - 1)] + vertical_.taps;
    const size_t w = size_t(width_);
    scratch.chroma.resize(size_t(high - low) * w * 2);
    int32_t* const uRows = scratch.chroma.data();
    int32_t* const vRows = uRows + size_t(high - low) * w;
    units = std::min(units, widestVectorUnits());
    for (int c = low; c < high; ++c) {
        filterColumns(frame.data[1] + ptrdiff_t(c) * frame.linesize[1], uRows + size_t(c - low) * w, units);
        filterColumns(frame.data[2] + ptrdiff_t(c) * frame.linesize[2], vRows + size_t(c - low) * w, units);
    }
    const int32_t* u[kMaxRowTaps];
    const int32_t* v[kMaxRowTaps];
    const int taps = vertical_.taps;
    for (int y = firstRow; y < firstRow + rows; ++y) {
        const int top = vertical_.first[size_t(y)] - low;
        for (int j = 0; j < taps; ++j) {
            u[j] = uRows + size_t(top + j) * w;
            v[j] = vRows + size_t(top + j) * w;
        }
        const int16_t* weights = vertical_.weights.data() + size_t(y) * size_t(vertical_.taps);
        const uint8_t* luma = frame.data[0] + ptrdiff_t(y) * frame.linesize[0];
        std::byte* const row = pixels + size_t(y) * bytesPerRow;
        int from = 0;
#if defined(KV_X86_VECTOR_CODE)
        // Four rows is the filter of every vertically subsampled format.
        if (units >= VectorUnits::avx512) {
            const auto rowAvx512 = taps == 4 ? outputRowAvx512<4> : outputRowAvx512<0>;
            from = rowAvx512(luma, u, v, weights, taps, matrix_, width_, layout, row);
        }
        if (units >= VectorUnits::avx2) {
            const auto rowAvx2 = taps == 4 ? outputRowAvx2<4> : outputRowAvx2<0>;
            from = rowAvx2(luma, u, v, weights, taps, matrix_, from, width_, layout, row);
        }
#endif
        outputRowPlain(luma, u, v, weights, taps, matrix_, from, width_, layout, row);
    }
#if defined(KV_X86_VECTOR_CODE)
    // The streamed stores are seen before the picture is handed on.
    if (units >= VectorUnits::avx2) _mm_sfence();
#endif
}

}  // namespace kv
