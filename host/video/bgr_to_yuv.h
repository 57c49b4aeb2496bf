#pragma once
// Converts rendered BGR0 pictures to 8-bit planar YUV at their own size with
// the very arithmetic of FFmpeg's scaler as the video encoder sets it up
// (bicubic, the given colour matrix, video range): the same integer
// readers, filters, truncations and clipping the scaler runs on x86-64, so
// that every sample equals the scaler's. The scaler takes each picture
// through its general pipeline one row and plane at a time; this does the
// case that matters in one pass, with vector units where the CPU has them.
// The encoder checks it against the scaler on the first picture before
// relying on it.
#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "host/video/scale_filter.h"
#include "platform/foundation/vector_units.h"

struct SwsContext;

namespace kv {

struct BgrScalerFreer {
    void operator()(SwsContext* c) const;
};
using BgrScaler = std::unique_ptr<SwsContext, BgrScalerFreer>;

// FFmpeg's scaler from BGR0 pictures to `format` at the same size, as the
// encoder converts with it: bicubic, into Y'CbCr by the colour table
// `colorspace` (an SWS_CS_ value) at video range. On the calling thread
// alone: pictures are converted on the threads that made them, several at
// once, and threads of its own would only hand the work about. Null when it
// cannot be made.
BgrScaler makeBgrScaler(int width, int height, AVPixelFormat format, int colorspace);

class BgrToYuv {
public:
    // Null when pictures of `format` at this size, or this colour matrix
    // (one of the scaler's tables, sws_getCoefficients), are not ones it
    // covers.
    static std::unique_ptr<BgrToYuv> make(AVPixelFormat format, int width, int height, const int table[4]);

    // The picture at `pixels`, rows `bytesPerRow` apart, its fourth byte
    // unread, into the planes of `picture` (of the format and size it was
    // made for). `units` are the widest vector units it may use (it has
    // AVX2 loops), those the CPU has at most; the plain version (none) is
    // the reference the others are held to. Safe on several threads at once.
    void convert(const uint8_t* pixels, size_t bytesPerRow, AVFrame& picture,
                 VectorUnits units = widestVectorUnits()) const;

    // The scaler's factors from R, G and B to Y, U and V, in 1/32768.
    struct Matrix {
        int32_t ry = 0, gy = 0, by = 0;
        int32_t ru = 0, gu = 0, bu = 0;
        int32_t rv = 0, gv = 0, bv = 0;
    };

private:
    BgrToYuv(int width, int height, int chromaShiftX, int chromaShiftY, const Matrix& matrix);

    int width_;
    int height_;
    int chromaShiftX_;  // chroma samples are averages of 2 pixels across when 1
    int chromaShiftY_;
    int chromaWidth_;
    int chromaHeight_;
    Matrix matrix_;
    ScaleFilter vertical_;  // picture rows to chroma rows
};

}  // namespace kv
