#include "host/video/bgr_to_yuv.h"

#include "platform/foundation/vector_units.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <vector>

#if defined(KV_X86_VECTOR_CODE)
#include <immintrin.h>
#endif

namespace kv {

namespace {

using Matrix = BgrToYuv::Matrix;

// The scaler's samples between its stages are 15-bit: 1/64 of a level as
// read, doubled by its (unscaled) column filter, and brought back to 8 bits
// by (x + 64) >> 7. Where nothing but a shift lies between, the offsets are
// folded into one.
// Luma: (sum + (16 << 15) + (1 << 8)) >> 9, doubled, (x + 64) >> 7.
constexpr int32_t kLumaOffset = (16 << 15) + (1 << 8) + (32 << 9);
// Chroma of a pair of pixels (the reader of pictures halved across): the
// pair's sum, (sum + (128 << 16) + (1 << 9)) >> 10.
constexpr int32_t kPairOffset = (128 << 16) + (1 << 9);
// Chroma of one pixel: (sum + (128 << 15) + (1 << 8)) >> 9.
constexpr int32_t kPixelOffset = (128 << 15) + (1 << 8);
// The largest 15-bit sample for which no stage of the scaler saturates.
constexpr int32_t kLargestSample = 16000;

// More row taps than a 2:1 bicubic downscale ever has.
constexpr int kMaxRowTaps = 16;

// The scaler's factors for a colour table, at video range (it takes no other
// for RGB sources).
Matrix matrixFor(const int table[4]) {
    const int64_t one = 1 << 16, shifted = 1 << 15;
    const int64_t vr = table[0], ub = table[1], ug = -table[2], vg = -table[3];
    const int64_t cy = one * 255 / 219;
    const int64_t w = roundedDivision(one * one * ug, ub);
    const int64_t v = roundedDivision(one * one * vg, vr);
    const int64_t z = one * one - w - v;
    const int64_t forY = roundedDivision(cy * z, one), forU = roundedDivision(ub * z, one);
    const int64_t forV = roundedDivision(vr * z, one);
    Matrix m;
    m.ry = int32_t(-roundedDivision(shifted * v, forY));
    m.gy = int32_t(roundedDivision(shifted * one * one, forY));
    m.by = int32_t(-roundedDivision(shifted * w, forY));
    m.ru = int32_t(roundedDivision(shifted * v, forU));
    m.gu = int32_t(-roundedDivision(shifted * one * one, forU));
    m.bu = int32_t(roundedDivision(shifted * (z + w), forU));
    m.rv = int32_t(roundedDivision(shifted * (v + z), forV));
    m.gv = int32_t(-roundedDivision(shifted * one * one, forV));
    m.bv = int32_t(roundedDivision(shifted * w, forV));
    const int* standard = sws_getCoefficients(SWS_CS_DEFAULT);
    if (std::equal(table, table + 4, standard)) {
        // The scaler's own rounding of BT.601 for its default table.
        const double s = shifted;
        m.by = int(0.114 * 219 / 255 * s + 0.5);
        m.bv = -int(0.081 * 224 / 255 * s + 0.5);
        m.bu = int(0.500 * 224 / 255 * s + 0.5);
        m.gy = int(0.587 * 219 / 255 * s + 0.5);
        m.gv = -int(0.419 * 224 / 255 * s + 0.5);
        m.gu = -int(0.331 * 224 / 255 * s + 0.5);
        m.ry = int(0.299 * 219 / 255 * s + 0.5);
        m.rv = int(0.500 * 224 / 255 * s + 0.5);
        m.ru = -int(0.169 * 224 / 255 * s + 0.5);
    }
    return m;
}

// Whether (r·R + g·G + b·B + offset) >> shift stays within 0..kLargestSample
// for every R, G, B in 0..top: then the scaler saturates nowhere and its
// unsigned sums wrap nowhere, which the folded arithmetic relies on (and
// every factor fits the 16 bits the vector code multiplies in).
bool staysInRange(int32_t r, int32_t g, int32_t b, int32_t top, int32_t offset, int shift) {
    int64_t low = offset, high = offset;
    for (const int64_t f : {r, g, b}) (f < 0 ? low : high) += f * top;
    return low >= 0 && (high >> shift) <= kLargestSample;
}

inline uint8_t clampByte(int32_t v) { return uint8_t(std::clamp(v, 0, 255)); }

// Plain versions, from `from` on: the reference the vector ones match.

void lumaRowPlain(const uint8_t* bgr, int from, int width, const Matrix& m, uint8_t* out) {
    for (int x = from; x < width; ++x) {
        const uint8_t* p = bgr + 4 * size_t(x);
        out[x] = clampByte((m.ry * p[2] + m.gy * p[1] + m.by * p[0] + kLumaOffset) >> 15);
    }
}

// Chroma of pixel pairs (`pairs` true) or single pixels as the scaler's
// 15-bit samples, already doubled by its column filter.
void chromaRowPlain(const uint8_t* bgr, bool pairs, int from, int count, const Matrix& m, int16_t* u, int16_t* v) {
    for (int i = from; i < count; ++i) {
        int32_t b, g, r;
        if (pairs) {
            const uint8_t* p = bgr + 8 * size_t(i);
            b = p[0] + p[4], g = p[1] + p[5], r = p[2] + p[6];
        } else {
            const uint8_t* p = bgr + 4 * size_t(i);
            b = p[0], g = p[1], r = p[2];
        }
        const int32_t offset = pairs ? kPairOffset : kPixelOffset;
        const int shift = pairs ? 10 : 9;
        u[i] = int16_t(((m.ru * r + m.gu * g + m.bu * b + offset) >> shift) * 2);
        v[i] = int16_t(((m.rv * r + m.gv * g + m.bv * b + offset) >> shift) * 2);
    }
}

// A row taken from one row of samples: the scaler's single-tap output,
// which adds with saturation.
void oneRowPlain(const int16_t* in, int from, int count, uint8_t* out) {
    for (int x = from; x < count; ++x) out[x] = clampByte(std::min(in[x] + 64, 32767) >> 7);
}

// A row filtered from several as the scaler's vector code does it: each
// product's top 16 bits, summed in 16 bits that wrap, from a start that
// stands for its rounding.
void filteredRowPlain(const int16_t* const* rows, const int16_t* weights, int taps, int from, int count, uint8_t* out) {
    const int16_t start = int16_t((64 + 8 * (taps - 1)) >> 4);
    for (int x = from; x < count; ++x) {
        int16_t sum = start;
        for (int j = 0; j < taps; ++j) sum = int16_t(sum + ((int32_t(weights[j]) * rows[j][x]) >> 16));
        out[x] = clampByte(sum >> 3);
    }
}

// The same in the scaler's plain code, which it takes for the picture's
// last rows (its vector code would write past them).
void filteredRowExact(const int16_t* const* rows, const int16_t* weights, int taps, int count, uint8_t* out) {
    for (int x = 0; x < count; ++x) {
        int32_t sum = 64 << 12;
        for (int j = 0; j < taps; ++j) sum += int32_t(rows[j][x]) * weights[j];
        out[x] = clampByte(sum >> 19);
    }
}

#if defined(KV_X86_VECTOR_CODE)
KV_VECTOR_CODE_BEGIN("avx2")

// Word pairs for _mm256_madd_epi16: `low` in the low word, `high` in the high.
__m256i wordPair(int32_t low, int32_t high) {
    return _mm256_set1_epi32(int32_t((uint32_t(high) << 16) | uint16_t(low)));
}

// Eight pixels as 16-bit words: blue and red, green and the unread byte.
struct Pixels {
    __m256i blueRed;
    __m256i green;
    explicit Pixels(__m256i bytes)
        : blueRed(_mm256_and_si256(bytes, _mm256_set1_epi32(0x00FF00FF))), green(_mm256_srli_epi16(bytes, 8)) {}
};

// One row of the matrix, weighing blue and red as a pair and green beside
// the unread byte.
struct PixelFactors {
    __m256i blueRed;
    __m256i green;
    __m256i dot(const Pixels& p) const {
        return _mm256_add_epi32(_mm256_madd_epi16(p.blueRed, blueRed), _mm256_madd_epi16(p.green, green));
    }
};
PixelFactors factors(int32_t r, int32_t g, int32_t b) { return {wordPair(b, r), wordPair(g, 0)}; }

__m256i load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
void store(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

int lumaRowAvx2(const uint8_t* bgr, int width, const Matrix& m, uint8_t* out) {
    const PixelFactors y = factors(m.ry, m.gy, m.by);
    const __m256i offset = _mm256_set1_epi32(kLumaOffset);
    // Packing leaves four groups of eight values interleaved by fours.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i v[4];
        for (int k = 0; k < 4; ++k) {
            const __m256i sums = y.dot(Pixels(load(bgr + 4 * size_t(x + 8 * k))));
            v[k] = _mm256_srai_epi32(_mm256_add_epi32(sums, offset), 15);
        }
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(v[0], v[1]), _mm256_packs_epi32(v[2], v[3]));
        store(out + x, _mm256_permutevar8x32_epi32(bytes, order));
    }
    return x;
}

int chromaRowAvx2(const uint8_t* bgr, bool pairs, int count, const Matrix& m, int16_t* u, int16_t* v) {
    const PixelFactors fu = factors(m.ru, m.gu, m.bu), fv = factors(m.rv, m.gv, m.bv);
    const __m256i offset = _mm256_set1_epi32(pairs ? kPairOffset : kPixelOffset);
    const int shift = pairs ? 10 : 9;
    // Eight samples of U and of V from eight pixels, or from eight pairs of
    // neighbours (their sums added within 128-bit lanes, then put in order),
    // as doubled 15-bit values.
    const auto eight = [&](const uint8_t* p, __m256i& su, __m256i& sv) {
        const Pixels a(load(p));
        su = fu.dot(a);
        sv = fv.dot(a);
        if (pairs) {
            const Pixels b(load(p + 32));
            su = _mm256_permute4x64_epi64(_mm256_hadd_epi32(su, fu.dot(b)), 0xD8);
            sv = _mm256_permute4x64_epi64(_mm256_hadd_epi32(sv, fv.dot(b)), 0xD8);
        }
        su = _mm256_slli_epi32(_mm256_srai_epi32(_mm256_add_epi32(su, offset), shift), 1);
        sv = _mm256_slli_epi32(_mm256_srai_epi32(_mm256_add_epi32(sv, offset), shift), 1);
    };
    const size_t eightSamples = pairs ? 64 : 32;  // bytes read for eight samples
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const uint8_t* p = bgr + size_t(i) * eightSamples / 8;
        __m256i u0, v0, u1, v1;
        eight(p, u0, v0);
        eight(p + eightSamples, u1, v1);
        store(u + i, _mm256_permute4x64_epi64(_mm256_packs_epi32(u0, u1), 0xD8));
        store(v + i, _mm256_permute4x64_epi64(_mm256_packs_epi32(v0, v1), 0xD8));
    }
    return i;
}

int oneRowAvx2(const int16_t* in, int count, uint8_t* out) {
    const __m256i half = _mm256_set1_epi16(64);
    int x = 0;
    for (; x + 32 <= count; x += 32) {
        const __m256i a = _mm256_srai_epi16(_mm256_adds_epi16(load(in + x), half), 7);
        const __m256i b = _mm256_srai_epi16(_mm256_adds_epi16(load(in + x + 16), half), 7);
        store(out + x, _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
    }
    return x;
}

int filteredRowAvx2(const int16_t* const* rows, const int16_t* weights, int taps, int count, uint8_t* out) {
    const __m256i start = _mm256_set1_epi16(int16_t((64 + 8 * (taps - 1)) >> 4));
    int x = 0;
    for (; x + 32 <= count; x += 32) {
        __m256i a = start, b = start;
        for (int j = 0; j < taps; ++j) {
            const __m256i w = _mm256_set1_epi16(weights[j]);
            a = _mm256_add_epi16(a, _mm256_mulhi_epi16(w, load(rows[j] + x)));
            b = _mm256_add_epi16(b, _mm256_mulhi_epi16(w, load(rows[j] + x + 16)));
        }
        const __m256i bytes = _mm256_packus_epi16(_mm256_srai_epi16(a, 3), _mm256_srai_epi16(b, 3));
        store(out + x, _mm256_permute4x64_epi64(bytes, 0xD8));
    }
    return x;
}

KV_VECTOR_CODE_END
#endif

}  // namespace

void BgrScalerFreer::operator()(SwsContext* c) const { sws_freeContext(c); }

BgrScaler makeBgrScaler(int width, int height, AVPixelFormat format, int colorspace) {
    BgrScaler scaler(sws_alloc_context());
    if (!scaler) return nullptr;
    SwsContext* c = scaler.get();
    const bool set = av_opt_set_int(c, "srcw", width, 0) >= 0 && av_opt_set_int(c, "srch", height, 0) >= 0 &&
                     av_opt_set_int(c, "src_format", AV_PIX_FMT_BGR0, 0) >= 0 &&
                     av_opt_set_int(c, "dstw", width, 0) >= 0 && av_opt_set_int(c, "dsth", height, 0) >= 0 &&
                     av_opt_set_int(c, "dst_format", format, 0) >= 0 &&
                     av_opt_set_int(c, "sws_flags", SWS_BICUBIC, 0) >= 0 &&
                     av_opt_set_int(c, "threads", 1, 0) >= 0;
    if (!set || sws_init_context(c, nullptr, nullptr) < 0) return nullptr;
    if (format != AV_PIX_FMT_BGR0) {
        int* inverse = nullptr;
        int sourceRange = 0;
        int* table = nullptr;
        int range = 0;
        int brightness = 0;
        int contrast = 0;
        int saturation = 0;
        sws_getColorspaceDetails(c, &inverse, &sourceRange, &table, &range, &brightness, &contrast, &saturation);
        sws_setColorspaceDetails(c, inverse, 1, sws_getCoefficients(colorspace), 0, brightness, contrast,
                                 saturation);
    }
    return scaler;
}

BgrToYuv::BgrToYuv(int width, int height, int chromaShiftX, int chromaShiftY, const Matrix& matrix)
    : width_(width),
      height_(height),
      chromaShiftX_(chromaShiftX),
      chromaShiftY_(chromaShiftY),
      chromaWidth_(AV_CEIL_RSHIFT(width, chromaShiftX)),
      chromaHeight_(AV_CEIL_RSHIFT(height, chromaShiftY)),
      matrix_(matrix) {}

std::unique_ptr<BgrToYuv> BgrToYuv::make(AVPixelFormat format, int width, int height, const int table[4]) {
    int shiftX = 0, shiftY = 0;
    switch (format) {
        case AV_PIX_FMT_YUV420P: shiftX = shiftY = 1; break;
        case AV_PIX_FMT_YUV422P: shiftX = 1; break;
        case AV_PIX_FMT_YUV440P: shiftY = 1; break;
        case AV_PIX_FMT_YUV444P: break;
        default: return nullptr;
    }
    if (!table || width <= 0 || height <= 0 || width > (1 << 16) || height > (1 << 16)) return nullptr;
    // Halving an odd width, the scaler reads a pixel past each row's end.
    if (shiftX == 1 && width % 2 != 0) return nullptr;
    const Matrix m = matrixFor(table);
    const bool pairs = shiftX == 1;
    const int32_t chromaOffset = pairs ? kPairOffset : kPixelOffset;
    const int chromaShift = pairs ? 10 : 9, top = pairs ? 510 : 255;
    if (!staysInRange(m.ry, m.gy, m.by, 255, kLumaOffset - (32 << 9), 9) ||
        !staysInRange(m.ru, m.gu, m.bu, top, chromaOffset, chromaShift) ||
        !staysInRange(m.rv, m.gv, m.bv, top, chromaOffset, chromaShift)) {
        return nullptr;
    }
    std::unique_ptr<BgrToYuv> made(new BgrToYuv(width, height, shiftX, shiftY, m));
    // The scaler sites every plane's first sample at the middle of its
    // first pixel (128/256) and pads row filters to 2 taps.
    made->vertical_ = bicubicScaleFilter(height, made->chromaHeight_, 128, 128, 2, 1 << 12);
    if (made->vertical_.taps > kMaxRowTaps || !made->vertical_.readsWithin(height)) return nullptr;
    return made;
}

void BgrToYuv::convert(const uint8_t* pixels, size_t bytesPerRow, AVFrame& picture, VectorUnits units) const {
    const bool avx2 = std::min(units, widestVectorUnits()) >= VectorUnits::avx2;
    const Matrix& m = matrix_;
    const bool pairs = chromaShiftX_ == 1;
    const int taps = vertical_.taps;
    const size_t cw = size_t(chromaWidth_);
    // The chroma of the last `taps` rows read, U then V, a row's slot
    // reused as the filter moves down.
    std::vector<int16_t> recent(size_t(taps) * cw * 2);
    int next = 0;
    const auto read = [&](int y, bool chroma) {
        const uint8_t* row = pixels + size_t(y) * bytesPerRow;
        uint8_t* luma = picture.data[0] + ptrdiff_t(y) * picture.linesize[0];
        int from = 0;
#if defined(KV_X86_VECTOR_CODE)
        if (avx2) from = lumaRowAvx2(row, width_, m, luma);
#endif
        lumaRowPlain(row, from, width_, m, luma);
        if (!chroma) return;
        int16_t* u = recent.data() + size_t(y % taps) * cw * 2;
        from = 0;
#if defined(KV_X86_VECTOR_CODE)
        if (avx2) from = chromaRowAvx2(row, pairs, chromaWidth_, m, u, u + cw);
#endif
        chromaRowPlain(row, pairs, from, chromaWidth_, m, u, u + cw);
    };
    for (int k = 0; k < chromaHeight_; ++k) {
        const int first = vertical_.first[size_t(k)];
        for (; next < first + taps; ++next) read(next, true);
        const int16_t* u[kMaxRowTaps];
        const int16_t* v[kMaxRowTaps];
        for (int j = 0; j < taps; ++j) {
            u[j] = recent.data() + size_t((first + j) % taps) * cw * 2;
            v[j] = u[j] + cw;
        }
        const int16_t* weights = vertical_.weights.data() + size_t(k) * size_t(taps);
        for (int plane = 1; plane <= 2; ++plane) {
            const int16_t* const* rows = plane == 1 ? u : v;
            uint8_t* out = picture.data[plane] + ptrdiff_t(k) * picture.linesize[plane];
            int from = 0;
            if (taps == 1) {
#if defined(KV_X86_VECTOR_CODE)
                if (avx2) from = oneRowAvx2(rows[0], chromaWidth_, out);
#endif
                oneRowPlain(rows[0], from, chromaWidth_, out);
            } else if ((k << chromaShiftY_) >= height_ - 2) {
                filteredRowExact(rows, weights, taps, chromaWidth_, out);
            } else {
#if defined(KV_X86_VECTOR_CODE)
                if (avx2) from = filteredRowAvx2(rows, weights, taps, chromaWidth_, out);
#endif
                filteredRowPlain(rows, weights, taps, from, chromaWidth_, out);
            }
        }
    }
    for (; next < height_; ++next) read(next, false);
}

}  // namespace kv
