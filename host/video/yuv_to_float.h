#pragma once
// Converts 8-bit planar YUV pictures to RGBA floats (or their nearest BGRA
// bytes) at their own size with the very arithmetic of FFmpeg's scaler as
// RgbaConverter sets it up (bicubic chroma, planar float output): the same
// integer filters, rounding, wrapping and clipping, so that every float
// equals the scaler's to the bit. The scaler runs its general pipeline in
// plain C for this output; this does the one case that matters in a single
// pass over each row, with the widest vector units the CPU has (AVX2 or
// AVX-512). RgbaConverter checks it against the scaler on the first frame
// before relying on it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "host/video/pixel_layout.h"
#include "host/video/scale_filter.h"
#include "platform/foundation/vector_units.h"

namespace kv {

class YuvToFloat {
public:
    // Null when pictures of `format` at this size are not ones it covers.
    static std::unique_ptr<YuvToFloat> make(AVPixelFormat format, int width, int height);

    // The colour matrix: one of the scaler's tables (sws_getCoefficients)
    // and whether the source is full range.
    void setColorspace(const int table[4], bool fullRange);

    // Work space of one thread.
    struct Scratch {
        std::vector<int32_t> chroma;
    };

    // Rows [firstRow, firstRow + rows) of `frame`, a picture of the format
    // and size it was made for, written in `layout`: row y at
    // `pixels` + y × `bytesPerRow`. `units` are the widest vector units it
    // may use, those the CPU has at most; the plain version (none) is the
    // reference the others are held to.
    void convertRows(const AVFrame& frame, int firstRow, int rows, PixelLayout layout, std::byte* pixels,
                     size_t bytesPerRow, Scratch& scratch, VectorUnits units = widestVectorUnits()) const;

    // Integer factors of the colour matrix, as the scaler keeps them.
    struct Matrix {
        int32_t yOffset = 0;
        int32_t yCoeff = 0;
        int32_t v2r = 0;
        int32_t v2g = 0;
        int32_t u2g = 0;
        int32_t u2b = 0;
    };

private:
    explicit YuvToFloat(int width) : width_(width) {}

    // The column filter laid out for eight outputs at a time (two blocks at
    // once with AVX-512): each block reads one 16-byte window of a chroma row
    // from `start`, spreads each output's 4-tap groups over its own lane with
    // `spread`, and weighs the even and odd taps of each group with `pairs`.
    struct ColumnBlocks {
        int outputs = 0;  // covered by whole blocks; the rest go the plain way
        std::vector<int32_t> start;
        std::vector<uint8_t> spread;  // 32 bytes per block and tap group
        std::vector<int16_t> pairs;   // 2 × 16 per block and tap group
    };
    static ColumnBlocks columnBlocks(const ScaleFilter& filter, int inputs);
    void filterColumns(const uint8_t* row, int32_t* out, VectorUnits units) const;

    int width_;
    ScaleFilter horizontal_;  // chroma columns to picture columns
    ScaleFilter vertical_;    // chroma rows to picture rows
    ColumnBlocks blocks_;
    Matrix matrix_;
};

}  // namespace kv
