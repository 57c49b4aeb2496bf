#pragma once
// Converts decoded frames of any pixel format FFmpeg knows into packed RGBA
// floats, or their nearest BGRA bytes, at a fixed size, with the colour
// matrix and range the frame states.
#include <cstddef>
#include <memory>
#include <vector>

#include "host/video/ffmpeg_support.h"
#include "host/video/pixel_layout.h"
#include "platform/foundation/result.h"

struct SwsContext;

namespace kv {

class YuvToFloat;

class RgbaConverter {
public:
    // Frames of 8-bit planar YUV at this size go straight to RGBA by the
    // scaler's own arithmetic (YuvToFloat), once a first frame has come out
    // the same both ways; `scaler` keeps to FFmpeg's scaler.
    enum class Route { fastest, scaler };
    RgbaConverter(int width, int height, Route route = Route::fastest);
    ~RgbaConverter();
    RgbaConverter(const RgbaConverter&) = delete;
    RgbaConverter& operator=(const RgbaConverter&) = delete;

    // Whether frames of `format` can be converted at all.
    static bool canConvert(AVPixelFormat format);

    // Writes `frame` as height rows of width pixels in `layout`, rows
    // `bytesPerRow` apart (a multiple of 4, at least width × the layout's
    // bytes per pixel). A frame of another size is scaled to this one.
    Result<void> convert(const AVFrame& frame, PixelLayout layout, std::byte* pixels, size_t bytesPerRow);

    // Whether frames like the last one are converted directly.
    bool convertsDirectly() const { return direct_ != nullptr && directChecked_; }

private:
    // The work space of one thread at a time: its direct conversion's, and
    // a scaler of its own and the planes of one band of rows.
    struct Band;

    Result<void> prepare(const AVFrame& frame);
    // Gives the band a scaler and planes for it, or the planes for the
    // scaler it has; an AVERROR when it cannot.
    int giveScaler(Band& band, const AVFrame& frame) const;
    int givePlanes(Band& band) const;
    // Rows [firstRow, firstRow + rows) of the frame scaled into the band's
    // planes and interleaved from there into `pixels`; an AVERROR when the
    // scaler fails.
    int scaleBand(Band& band, const AVFrame& frame, int firstRow, int rows, PixelLayout layout, std::byte* pixels,
                  size_t bytesPerRow) const;
    // Whether the direct conversion's floats of those rows are the
    // scaler's: 0, kDirectDiffers, or an AVERROR.
    int checkBand(Band& band, const AVFrame& frame, int firstRow, int rows) const;
    // Floats from one row of the scaler's planes to the next: a whole number
    // of its vector blocks, which it writes whole past a row's last pixel.
    size_t planeRowFloats() const { return (size_t(width_) + 15) & ~size_t(15); }

    int width_;
    int height_;
    Route route_;
    // Bands of bandRows_ rows (the last may be shorter), each converted
    // whole by whichever thread takes it.
    int bandRows_ = 0;
    std::vector<std::unique_ptr<Band>> bands_;
    // What the bands were made for and the colour details last given them.
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int sourceFormat_ = AV_PIX_FMT_NONE;
    int colorspace_ = -1;
    bool fullRange_ = false;
    // The direct conversion for these frames, if any, and whether it has
    // been checked against the scaler for the current colour details.
    std::unique_ptr<YuvToFloat> direct_;
    bool directChecked_ = false;
};

}  // namespace kv
