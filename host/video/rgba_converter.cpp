#include "host/video/rgba_converter.h"

#include "host/video/yuv_to_float.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/log.h"
#include "platform/iosurface/pixel_values.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace kv {

namespace {

// The scaler's planar float output; interleaving it ourselves is cheaper than
// any packed route through 16-bit integers and loses nothing.
constexpr AVPixelFormat kPlanarFloat = AV_PIX_FMT_GBRPF32;
// Pixels of one band of rows, scaled and interleaved on one thread: its
// planes stay in the core's cache, and a frame spreads over the cores.
constexpr size_t kBandPixels = 32768;

// What checkBand returns when the direct conversion differs from the scaler.
constexpr int kDirectDiffers = 1;

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

// Gives the scaler the frames' colour matrix (an unknown one gets the
// scaler's default, BT.601) and range, into full-range RGB.
void setColourDetails(SwsContext* scaler, int colorspace, bool fullRange) {
    sws_setColorspaceDetails(scaler, sws_getCoefficients(colorspace), fullRange ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
}

// The scaler writes into reference-counted frames; this one lends it memory
// that the converter owns, so there is nothing to free.
void keepMemory(void*, uint8_t*) {}

// A scaler from frames like `frame` to planar floats of the given size, on
// the calling thread. Bicubic, as FFmpeg's own tools convert; at equal sizes
// it only shapes the chroma upsampling. Null with the reason in `code` (an
// AVERROR) when it cannot be made.
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
                     av_opt_set_int(scaler, "sws_flags", SWS_BICUBIC, 0) >= 0;
    code = set ? sws_init_context(scaler, nullptr, nullptr) : AVERROR(EINVAL);
    if (code < 0) {
        sws_freeContext(scaler);
        return nullptr;
    }
    return scaler;
}

// Packs rows of planar G, B, R floats, `rowStride` floats from one row to
// the next and `planeStride` from one plane to the next, into rows of
// `layout` `bytesPerRow` apart.
void interleave(const float* planes, size_t planeStride, size_t rowStride, int width, int rows, PixelLayout layout,
                std::byte* pixels, size_t bytesPerRow) {
    if (layout == PixelLayout::bgraBytes) {
        for (int y = 0; y < rows; ++y) {
            uint8_t* out = reinterpret_cast<uint8_t*>(pixels + static_cast<size_t>(y) * bytesPerRow);
            const float* g = planes + static_cast<size_t>(y) * rowStride;
            const float* b = g + planeStride;
            const float* r = b + planeStride;
            for (int x = 0; x < width; ++x, out += 4) {
                out[0] = unormByte(b[x]);
                out[1] = unormByte(g[x]);
                out[2] = unormByte(r[x]);
                out[3] = 255;
            }
        }
        return;
    }
    for (int y = 0; y < rows; ++y) {
        float* out = reinterpret_cast<float*>(pixels + static_cast<size_t>(y) * bytesPerRow);
        const float* g = planes + static_cast<size_t>(y) * rowStride;
        const float* b = g + planeStride;
        const float* r = b + planeStride;
        int x = 0;
#if defined(__SSE__)
        // Four pixels at a time: their R, G, B and A rows turned into pixels.
        // Rows on 16 bytes go straight to memory, past the cache: the picture
        // is read again only much later.
        const __m128 one = _mm_set1_ps(1.0f);
        const bool aligned = reinterpret_cast<uintptr_t>(out) % 16 == 0;
        for (; x + 4 <= width; x += 4) {
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
        for (; x < width; ++x) {
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

}  // namespace

struct RgbaConverter::Band {
    SwsContext* scaler = nullptr;
    // G, B and R planes of the band's rows, one after the other.
    std::vector<float> planes;
    // Lends the planes to the scaler, placed so that the band's first row
    // lands at the start of each plane.
    AVFramePtr frame{av_frame_alloc()};
    // The direct conversion's work space, and the scaler's rows and its own,
    // as floats, while it is checked against them.
    YuvToFloat::Scratch direct;
    std::vector<std::byte> check;

    ~Band() { sws_freeContext(scaler); }
};

RgbaConverter::RgbaConverter(int width, int height, Route route) : width_(width), height_(height), route_(route) {}

RgbaConverter::~RgbaConverter() = default;

bool RgbaConverter::canConvert(AVPixelFormat format) { return sws_isSupportedInput(format) > 0; }

int RgbaConverter::giveScaler(Band& band, const AVFrame& frame) const {
    int code = 0;
    band.scaler = makeScaler(frame, width_, height_, code);
    if (!band.scaler) return code;
    if (colorspace_ != -1) setColourDetails(band.scaler, colorspace_, fullRange_);
    return givePlanes(band);
}

int RgbaConverter::givePlanes(Band& band) const {
    try {
        band.planes.resize(planeRowFloats() * size_t(bandRows_) * 3);
    } catch (const std::bad_alloc&) {
        return AVERROR(ENOMEM);
    }
    if (!band.frame) return AVERROR(ENOMEM);
    band.frame->format = kPlanarFloat;
    band.frame->width = width_;
    band.frame->height = height_;
    band.frame->buf[0] = av_buffer_create(reinterpret_cast<uint8_t*>(band.planes.data()),
                                          band.planes.size() * sizeof(float), keepMemory, nullptr, 0);
    if (!band.frame->buf[0]) return AVERROR(ENOMEM);
    for (int p = 0; p < 3; ++p) band.frame->linesize[p] = int(planeRowFloats() * sizeof(float));
    return 0;
}

Result<void> RgbaConverter::prepare(const AVFrame& frame) {
    const bool sameSource = !bands_.empty() && frame.width == sourceWidth_ && frame.height == sourceHeight_ &&
                            frame.format == sourceFormat_;
    if (!sameSource) {
        bands_.clear();
        colorspace_ = -1;
        // Work space for each thread that can take part; each band's scaler
        // is made when the band is first scaled, the first one at once, which
        // also tells whether frames like this can be converted at all.
        const size_t threads = std::max<size_t>(1, dispatch::maximumConcurrency());
        int code = AVERROR(ENOMEM);
        try {
            auto first = std::make_unique<Band>();
            first->scaler = makeScaler(frame, width_, height_, code);
            if (first->scaler) {
                // Bands start on rows the scaler can start an output slice at.
                const int align = std::max(1, int(sws_receive_slice_alignment(first->scaler)));
                const int rows = int(std::max<size_t>(1, kBandPixels / size_t(std::max(width_, 1))));
                bandRows_ = std::max(align, rows / align * align);
                code = givePlanes(*first);
                if (code >= 0) bands_.push_back(std::move(first));
            }
            const size_t bandCount = (size_t(height_) + size_t(bandRows_) - 1) / size_t(bandRows_);
            while (!bands_.empty() && bands_.size() < std::min(threads, bandCount)) {
                bands_.push_back(std::make_unique<Band>());
            }
        } catch (const std::bad_alloc&) {
            code = AVERROR(ENOMEM);
        }
        if (bands_.empty() && code == AVERROR(ENOMEM)) {
            return Error{"Out of memory while preparing to convert video frames of " + std::to_string(frame.width) +
                         "x" + std::to_string(frame.height) + " pixels."};
        }
        if (bands_.empty()) {
            const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format));
            return Error{std::string("Cannot convert video frames of pixel format ") + (name ? name : "unknown") +
                         " to RGBA: " + ffmpeg::errorText(code)};
        }
        sourceWidth_ = frame.width;
        sourceHeight_ = frame.height;
        sourceFormat_ = frame.format;
        direct_.reset();
        if (route_ == Route::fastest && frame.width == width_ && frame.height == height_) {
            direct_ = YuvToFloat::make(static_cast<AVPixelFormat>(frame.format), width_, height_);
        }
    }
    const bool fullRange =
        frame.color_range == AVCOL_RANGE_JPEG || isFullRangeFormat(static_cast<AVPixelFormat>(frame.format));
    if (frame.colorspace != colorspace_ || fullRange != fullRange_) {
        colorspace_ = frame.colorspace;
        fullRange_ = fullRange;
        for (const auto& band : bands_) {
            if (band->scaler) setColourDetails(band->scaler, frame.colorspace, fullRange);
        }
        if (direct_) direct_->setColorspace(sws_getCoefficients(frame.colorspace), fullRange);
        directChecked_ = false;
    }
    return {};
}

int RgbaConverter::scaleBand(Band& band, const AVFrame& frame, int firstRow, int rows, PixelLayout layout,
                             std::byte* pixels, size_t bytesPerRow) const {
    if (!band.scaler) {
        if (const int code = giveScaler(band, frame); code < 0) return code;
    }
    // The scaler writes output row y at data + y × linesize: the pointers
    // are set back by the band's first row so that it lands on the planes.
    const size_t plane = planeRowFloats() * size_t(bandRows_);
    const uintptr_t back = uintptr_t(firstRow) * uintptr_t(band.frame->linesize[0]);
    for (int p = 0; p < 3; ++p) {
        band.frame->data[p] = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(band.planes.data() + p * plane) - back);
    }
    int code = sws_frame_start(band.scaler, band.frame.get(), &frame);
    if (code >= 0) code = sws_send_slice(band.scaler, 0, unsigned(frame.height));
    if (code >= 0) code = sws_receive_slice(band.scaler, unsigned(firstRow), unsigned(rows));
    sws_frame_end(band.scaler);
    if (code < 0) return code;
    interleave(band.planes.data(), plane, planeRowFloats(), width_, rows, layout,
               pixels + size_t(firstRow) * bytesPerRow, bytesPerRow);
    return 0;
}

int RgbaConverter::checkBand(Band& band, const AVFrame& frame, int firstRow, int rows) const {
    // Both write row y at y × bandBytes / rows past the pointer they are given.
    const size_t bandBytes = size_t(rows) * size_t(width_) * bytesPerPixel(PixelLayout::rgbaFloat);
    const size_t rowBytes = bandBytes / size_t(rows);
    band.check.resize(2 * bandBytes);
    std::byte* const scaled = band.check.data() - size_t(firstRow) * rowBytes;
    std::byte* const direct = scaled + bandBytes;
    if (const int code = scaleBand(band, frame, firstRow, rows, PixelLayout::rgbaFloat, scaled, rowBytes); code < 0) {
        return code;
    }
    direct_->convertRows(frame, firstRow, rows, PixelLayout::rgbaFloat, direct, rowBytes, band.direct);
    return std::memcmp(band.check.data(), band.check.data() + bandBytes, bandBytes) == 0 ? 0 : kDirectDiffers;
}

Result<void> RgbaConverter::convert(const AVFrame& frame, PixelLayout layout, std::byte* pixels, size_t bytesPerRow) {
    if (auto prepared = prepare(frame); !prepared) return prepared;
    // Each band is converted while its rows are still in the cache, on
    // every core: the picture is written once, and no whole frame of planes
    // goes through memory. Each thread takes bands one after another with
    // work space (and a scaler) of its own.
    const size_t bandCount = (size_t(height_) + size_t(bandRows_) - 1) / size_t(bandRows_);
    const bool direct = direct_ && frame.linesize[0] > 0 && frame.linesize[1] > 0 && frame.linesize[2] > 0;
    // The first frame converted directly is checked against the scaler on
    // its first, middle and last bands: the edges and the inside.
    const bool checking = direct && !directChecked_;
    const auto checked = [bandCount](size_t k) { return k == 0 || k == bandCount / 2 || k + 1 == bandCount; };
    std::atomic<size_t> next{0};
    std::atomic<int> failure{0};
    std::atomic<bool> differs{false};
    try {
        dispatch::concurrentPerform(bands_.size(), 1, [&](size_t begin, size_t end) {
            for (size_t b = begin; b < end; ++b) {
                for (size_t k = next++; k < bandCount; k = next++) {
                    const int first = int(k) * bandRows_;
                    const int rows = std::min(bandRows_, height_ - first);
                    int code = 0;
                    if (direct) {
                        direct_->convertRows(frame, first, rows, layout, pixels, bytesPerRow, bands_[b]->direct);
                        if (checking && checked(k)) code = checkBand(*bands_[b], frame, first, rows);
                    } else {
                        code = scaleBand(*bands_[b], frame, first, rows, layout, pixels, bytesPerRow);
                    }
                    if (code == kDirectDiffers) {
                        differs = true;
                    } else if (code < 0) {
                        failure = code;
                    }
                }
            }
        });
    } catch (const std::runtime_error&) {
        // The pool's threads could not be started: memory that cannot be had.
        failure = AVERROR(ENOMEM);
    }
    if (failure.load() == AVERROR(ENOMEM)) {
        return Error{"Out of memory while converting video frames of " + std::to_string(width_) + "x" +
                     std::to_string(height_) + " pixels."};
    }
    if (const int code = failure.load(); code < 0) {
        return Error{"The video frame could not be converted to RGBA: " + ffmpeg::errorText(code)};
    }
    if (checking) {
        directChecked_ = true;
        if (differs) {
            // Frames like this go by the scaler from now on, this one too.
            direct_.reset();
            NSLog("Video frames are converted by FFmpeg's scaler: the direct conversion differs from it here.");
            return convert(frame, layout, pixels, bytesPerRow);
        }
    }
    return {};
}

}  // namespace kv
