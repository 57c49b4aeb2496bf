#include "host/video/rgba_converter.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <new>
#include <string>

namespace kv {

namespace {

// The scaler's planar float output; interleaving it ourselves is cheaper than
// any packed route through 16-bit integers and loses nothing.
constexpr AVPixelFormat kPlanarFloat = AV_PIX_FMT_GBRPF32;

// The JPEG-style formats are full range whatever the frame says.
bool isFullRangeFormat(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ411P:
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ444P:
            return true;
        default:
            return false;
    }
}

// The scaler writes into reference-counted frames; this one lends it memory
// that the converter owns, so there is nothing to free.
void keepMemory(void*, uint8_t*) {}

// A scaler from frames like `frame` to planar floats of the given size, on
// as many threads as there are cores. Bicubic, as FFmpeg's own tools
// convert; at equal sizes it only shapes the chroma upsampling.
SwsContext* makeScaler(const AVFrame& frame, int width, int height) {
    SwsContext* scaler = sws_alloc_context();
    if (!scaler) return nullptr;
    const bool set = av_opt_set_int(scaler, "srcw", frame.width, 0) >= 0 &&
                     av_opt_set_int(scaler, "srch", frame.height, 0) >= 0 &&
                     av_opt_set_int(scaler, "src_format", frame.format, 0) >= 0 &&
                     av_opt_set_int(scaler, "dstw", width, 0) >= 0 &&
                     av_opt_set_int(scaler, "dsth", height, 0) >= 0 &&
                     av_opt_set_int(scaler, "dst_format", kPlanarFloat, 0) >= 0 &&
                     av_opt_set_int(scaler, "sws_flags", SWS_BICUBIC, 0) >= 0 &&
                     av_opt_set_int(scaler, "threads", 0, 0) >= 0;
    if (!set || sws_init_context(scaler, nullptr, nullptr) < 0) {
        sws_freeContext(scaler);
        return nullptr;
    }
    return scaler;
}

}  // namespace

RgbaConverter::RgbaConverter(int width, int height)
    : width_(width), height_(height), planeFrame_(av_frame_alloc()) {
    if (!planeFrame_) return;
    const size_t plane = static_cast<size_t>(width) * height;
    // Without memory for the planes the converter refuses every frame.
    try {
        planes_.resize(plane * 3);
    } catch (const std::bad_alloc&) {
        return;
    }
    planeFrame_->format = kPlanarFloat;
    planeFrame_->width = width;
    planeFrame_->height = height;
    planeFrame_->buf[0] = av_buffer_create(reinterpret_cast<uint8_t*>(planes_.data()),
                                           planes_.size() * sizeof(float), keepMemory, nullptr, 0);
    for (int p = 0; p < 3; ++p) {
        planeFrame_->data[p] = reinterpret_cast<uint8_t*>(planes_.data() + p * plane);
        planeFrame_->linesize[p] = width * static_cast<int>(sizeof(float));
    }
}

RgbaConverter::~RgbaConverter() { sws_freeContext(scaler_); }

bool RgbaConverter::canConvert(AVPixelFormat format) { return sws_isSupportedInput(format) > 0; }

Result<void> RgbaConverter::prepare(const AVFrame& frame) {
    if (!planeFrame_ || !planeFrame_->buf[0]) return Error{"Out of memory while converting a video frame."};
    const bool sameSource =
        scaler_ && frame.width == sourceWidth_ && frame.height == sourceHeight_ && frame.format == sourceFormat_;
    if (!sameSource) {
        sws_freeContext(scaler_);
        scaler_ = makeScaler(frame, width_, height_);
        colorspace_ = -1;
        if (!scaler_) {
            const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format));
            return Error{std::string("Cannot convert video frames of pixel format ") + (name ? name : "unknown") +
                         " to RGBA."};
        }
        sourceWidth_ = frame.width;
        sourceHeight_ = frame.height;
        sourceFormat_ = frame.format;
    }
    const bool fullRange =
        frame.color_range == AVCOL_RANGE_JPEG || isFullRangeFormat(static_cast<AVPixelFormat>(frame.format));
    if (frame.colorspace != colorspace_ || fullRange != fullRange_) {
        colorspace_ = frame.colorspace;
        fullRange_ = fullRange;
        // An unknown colour space gets the scaler's default matrix (BT.601).
        sws_setColorspaceDetails(scaler_, sws_getCoefficients(frame.colorspace), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    return {};
}

Result<void> RgbaConverter::convert(const AVFrame& frame, float* rgba, size_t bytesPerRow) {
    if (auto prepared = prepare(frame); !prepared) return prepared;
    if (const int scaled = sws_scale_frame(scaler_, planeFrame_.get(), &frame); scaled < 0) {
        return Error{"The video frame could not be converted to RGBA: " + ffmpeg::errorText(scaled)};
    }

    const size_t plane = static_cast<size_t>(width_) * height_;
    const float* g = planes_.data();
    const float* b = g + plane;
    const float* r = b + plane;
    auto* rows = reinterpret_cast<std::byte*>(rgba);
    for (int y = 0; y < height_; ++y) {
        float* out = reinterpret_cast<float*>(rows + static_cast<size_t>(y) * bytesPerRow);
        const size_t row = static_cast<size_t>(y) * width_;
        for (int x = 0; x < width_; ++x) {
            out[4 * x + 0] = r[row + x];
            out[4 * x + 1] = g[row + x];
            out[4 * x + 2] = b[row + x];
            out[4 * x + 3] = 1.0f;
        }
    }
    return {};
}

}  // namespace kv
