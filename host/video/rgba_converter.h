#pragma once
// Converts decoded frames of any pixel format FFmpeg knows into packed RGBA
// floats at a fixed size, with the colour matrix and range the frame states.
#include <cstddef>
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
    Result<void> prepare(const AVFrame& frame);
    // Rows [firstRow, firstRow + rows) of the planes into packed RGBA.
    void interleave(int firstRow, int rows, float* rgba, size_t bytesPerRow) const;

    int width_;
    int height_;
    SwsContext* scaler_ = nullptr;
    // What scaler_ was made for and the colour details last given to it.
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int sourceFormat_ = AV_PIX_FMT_NONE;
    int colorspace_ = -1;
    bool fullRange_ = false;
    // Planar G, B, R floats from the scaler, interleaved afterwards; `planes_`
    // owns the memory that `planeFrame_` lends the scaler.
    std::vector<float> planes_;
    ffmpeg::FramePtr planeFrame_;
};

}  // namespace kv
