#include "host/video/rgba_converter.h"

#include "platform/dispatch/dispatch.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <string>

namespace kv {

namespace {

// The scaler's planar float output; interleaving it ourselves is cheaper than
// any packed route through 16-bit integers and loses nothing.
constexpr AVPixelFormat kPlanarFloat = AV_PIX_FMT_GBRPF32;
// Pixels of one band of rows interleaved on one thread: enough to outweigh
// handing the band over, small enough to spread a frame over the cores.
constexpr size_t kBandPixels = 32768;

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
// convert; at equal sizes it only shapes the chroma upsampling. Null with
// the reason in `code` (an AVERROR) when it cannot be made.
SwsContext* makeScaler(const AVFrame& frame, int width, int height, int& code) {
    SwsContext* scaler = sws_alloc_context();
    code = AVERROR(ENOMEM);
    if (!scaler) return nullptr;
    const bool set = av_opt_set_int(scaler, "srcw", frame.width, 0) >= 0 &&
                     av_opt_set_int(scaler, "srch", frame.height, 0) >= 0 &&
                     av_opt_set_int(scaler, "src_format", frame.format, 0) >= 0 &&
                     av_opt_set_int(scaler, "dstw", width, 0) >= 0 &&
                     av_opt_set_int(scaler, "dsth", height, 0) >= 0 &&
                     av_opt_set_int(scaler, "dst_format", kPlanarFloat, 0) >= 0 &&
                     av_opt_set_int(scaler, "sws_flags", SWS_BICUBIC, 0) >= 0 &&
                     av_opt_set_int(scaler, "threads", 0, 0) >= 0;
    code = set ? sws_init_context(scaler, nullptr, nullptr) : AVERROR(EINVAL);
    if (code < 0) {
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
        int code = 0;
        scaler_ = makeScaler(frame, width_, height_, code);
        colorspace_ = -1;
        // Threads that cannot be started are memory that cannot be had.
        if (!scaler_ && (code == AVERROR(ENOMEM) || code == AVERROR(EAGAIN))) {
            return Error{"Out of memory while preparing to convert video frames of " + std::to_string(frame.width) +
                         "x" + std::to_string(frame.height) + " pixels."};
        }
        if (!scaler_) {
            const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format));
            return Error{std::string("Cannot convert video frames of pixel format ") + (name ? name : "unknown") +
                         " to RGBA: " + ffmpeg::errorText(code)};
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
    // The whole frame at once: the scaler's threads meet once a frame.
    if (const int scaled = sws_scale_frame(scaler_, planeFrame_.get(), &frame); scaled < 0) {
        return Error{"The video frame could not be converted to RGBA: " + ffmpeg::errorText(scaled)};
    }
    // Interleaved on every core, in bands of rows: one thread alone would
    // keep the decoder waiting for as long as the scaler took.
    const size_t rowsPerBand = std::max<size_t>(1, kBandPixels / size_t(std::max(width_, 1)));
    dispatch::concurrentPerform(size_t(height_), rowsPerBand, [&](size_t begin, size_t end) {
        interleave(int(begin), int(end - begin), rgba, bytesPerRow);
    });
    return {};
}

void RgbaConverter::interleave(int firstRow, int rows, float* rgba, size_t bytesPerRow) const {
    const size_t plane = static_cast<size_t>(width_) * height_;
    auto* bytes = reinterpret_cast<std::byte*>(rgba);
    for (int y = firstRow; y < firstRow + rows; ++y) {
        float* out = reinterpret_cast<float*>(bytes + static_cast<size_t>(y) * bytesPerRow);
        const float* g = planes_.data() + static_cast<size_t>(y) * width_;
        const float* b = g + plane;
        const float* r = b + plane;
        int x = 0;
#if defined(__SSE__)
        // Four pixels at a time: their R, G, B and A rows turned into pixels.
        // Rows on 16 bytes go straight to memory, past the cache: the picture
        // is read again only much later.
        const __m128 one = _mm_set1_ps(1.0f);
        const bool aligned = reinterpret_cast<uintptr_t>(out) % 16 == 0;
        for (; x + 4 <= width_; x += 4) {
            __m128 pr = _mm_loadu_ps(r + x), pg = _mm_loadu_ps(g + x), pb = _mm_loadu_ps(b + x), pa = one;
            _MM_TRANSPOSE4_PS(pr, pg, pb, pa);
            if (aligned) {
                _mm_stream_ps(out + 4 * x, pr);
                _mm_stream_ps(out + 4 * x + 4, pg);
                _mm_stream_ps(out + 4 * x + 8, pb);
                _mm_stream_ps(out + 4 * x + 12, pa);
            } else {
                _mm_storeu_ps(out + 4 * x, pr);
                _mm_storeu_ps(out + 4 * x + 4, pg);
                _mm_storeu_ps(out + 4 * x + 8, pb);
                _mm_storeu_ps(out + 4 * x + 12, pa);
            }
        }
#endif
        for (; x < width_; ++x) {
            out[4 * x + 0] = r[x];
            out[4 * x + 1] = g[x];
            out[4 * x + 2] = b[x];
            out[4 * x + 3] = 1.0f;
        }
    }
#if defined(__SSE__)
    _mm_sfence();  // the streamed stores are seen before the picture is handed on
#endif
}

}  // namespace kv
