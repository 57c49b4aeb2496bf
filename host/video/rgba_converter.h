#pragma once
// Converts decoded frames of any pixel format FFmpeg knows into packed RGBA
// floats at a fixed size, with the colour matrix and range the frame states.
#include <cstddef>
#include <memory>
#include <vector>

#include "host/video/ffmpeg_support.h"
#include "platform/foundation/result.h"

struct SwsContext;

namespace kv {

class RgbaConverter {
public:
    RgbaConverter(int width, int height);
    ~RgbaConverter();
    RgbaConverter(const RgbaConverter&) = delete;
    RgbaConverter& operator=(const RgbaConverter&) = delete;

    // Whether frames of `format` can be converted at all.
    static bool canConvert(AVPixelFormat format);

    // Writes `frame` as height rows of width RGBA pixels, rows `bytesPerRow`
    // apart (a multiple of 4, at least width × 16). A frame of another size is
    // scaled to this one.
    Result<void> convert(const AVFrame& frame, float* rgba, size_t bytesPerRow);

private:
    // A scaler of its own and the planes of one band of rows, used by one
    // thread at a time.
    struct Band;

    Result<void> prepare(const AVFrame& frame);
    // Rows [firstRow, firstRow + rows) of the frame scaled into the band's
    // planes and interleaved from there; an AVERROR when the scaler fails.
    int convertBand(Band& band, const AVFrame& frame, int firstRow, int rows, float* rgba, size_t bytesPerRow) const;

    int width_;
    int height_;
    // Bands of bandRows_ rows (the last may be shorter), each converted
    // whole by whichever thread takes it.
    int bandRows_ = 0;
    std::vector<std::unique_ptr<Band>> bands_;
    // What the scalers were made for and the colour details last given them.
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int sourceFormat_ = AV_PIX_FMT_NONE;
    int colorspace_ = -1;
    bool fullRange_ = false;
};

}  // namespace kv
