// The direct YUV conversion against FFmpeg's scaler, value for value.
#include "host/video/yuv_to_float.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "host/video/rgba_converter.h"
#include "platform/iosurface/pixel_values.h"

namespace kv {
namespace {

// A picture of random samples: every level, and sharp edges everywhere
// for the cubic to overshoot.
AVFramePtr randomFrame(AVPixelFormat format, int width, int height, AVColorSpace space, AVColorRange range,
                             unsigned seed) {
    AVFramePtr frame{av_frame_alloc()};
    frame->format = format;
    frame->width = width;
    frame->height = height;
    frame->colorspace = space;
    frame->color_range = range;
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    std::mt19937 random(seed);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    for (int p = 0; p < 3; ++p) {
        const int rows = p == 0 ? height : AV_CEIL_RSHIFT(height, d->log2_chroma_h);
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < frame->linesize[p]; ++x) frame->data[p][y * frame->linesize[p] + x] = uint8_t(random());
        }
    }
    return frame;
}

// Pixels of `frame` in `layout`, as floats or as bytes.
template <class Value>
std::vector<Value> pixelsOf(const AVFrame& frame, PixelLayout layout) {
    return std::vector<Value>(size_t(frame.width) * size_t(frame.height) * bytesPerPixel(layout) / sizeof(Value));
}

template <class Value = float>
std::vector<Value> byScaler(const AVFrame& frame, PixelLayout layout = PixelLayout::rgbaFloat) {
    RgbaConverter scaler(frame.width, frame.height, RgbaConverter::Route::scaler);
    auto pixels = pixelsOf<Value>(frame, layout);
    EXPECT_TRUE(scaler.convert(frame, layout, reinterpret_cast<std::byte*>(pixels.data()),
                               size_t(frame.width) * bytesPerPixel(layout))
                    .ok());
    return pixels;
}

// The picture converted directly in three uneven bands, as threads take them.
template <class Value = float>
std::vector<Value> directly(const AVFrame& frame, VectorUnits units, PixelLayout layout = PixelLayout::rgbaFloat) {
    auto direct = YuvToFloat::make(static_cast<AVPixelFormat>(frame.format), frame.width, frame.height);
    EXPECT_TRUE(direct);
    if (!direct) return {};
    direct->setColorspace(sws_getCoefficients(frame.colorspace),
                          frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P);
    auto pixels = pixelsOf<Value>(frame, layout);
    YuvToFloat::Scratch scratch;
    const int cut1 = frame.height / 3, cut2 = frame.height - 5;
    for (auto [first, end] : {std::pair{0, cut1}, {cut1, cut2}, {cut2, frame.height}}) {
        direct->convertRows(frame, first, end - first, layout, reinterpret_cast<std::byte*>(pixels.data()),
                            size_t(frame.width) * bytesPerPixel(layout), scratch, units);
    }
    return pixels;
}

// The BGRA bytes nearest RGBA floats.
std::vector<uint8_t> nearestBytes(const std::vector<float>& rgba) {
    std::vector<uint8_t> bgra(rgba.size());
    for (size_t p = 0; p + 3 < rgba.size(); p += 4) {
        bgra[p] = unormByte(rgba[p + 2]);
        bgra[p + 1] = unormByte(rgba[p + 1]);
        bgra[p + 2] = unormByte(rgba[p]);
        bgra[p + 3] = unormByte(rgba[p + 3]);
    }
    return bgra;
}

size_t differingValues(const std::vector<float>& a, const std::vector<float>& b) {
    size_t count = 0;
    for (size_t i = 0; i < a.size(); ++i) count += std::memcmp(&a[i], &b[i], sizeof(float)) != 0;
    return a.size() == b.size() ? count : a.size() + b.size();
}

struct Case {
    AVPixelFormat format;
    int width;
    int height;
    AVColorSpace space;
    AVColorRange range;
};

TEST(YuvToFloatTest, EveryValueEqualsTheScalersForEachLayoutMatrixAndRange) {
    std::vector<Case> cases;
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P,
                                 AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV440P, AV_PIX_FMT_YUV410P}) {
        // 110 leaves eight pixels past the last sixteen, and six past those.
        cases.push_back({format, 110, 66, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_MPEG});
        cases.push_back({format, 37, 35, AVCOL_SPC_BT709, AVCOL_RANGE_JPEG});
    }
    for (AVColorSpace space : {AVCOL_SPC_UNSPECIFIED, AVCOL_SPC_BT709, AVCOL_SPC_FCC, AVCOL_SPC_SMPTE240M,
                               AVCOL_SPC_BT2020_NCL}) {
        for (AVColorRange range : {AVCOL_RANGE_MPEG, AVCOL_RANGE_JPEG}) {
            cases.push_back({AV_PIX_FMT_YUV420P, 1280, 720, space, range});
        }
    }
    cases.push_back({AV_PIX_FMT_YUV420P, 641, 479, AVCOL_SPC_BT470BG, AVCOL_RANGE_MPEG});
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(av_get_pix_fmt_name(c.format)) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height) + " space " + std::to_string(c.space) + " range " +
                     std::to_string(c.range));
        const auto frame = randomFrame(c.format, c.width, c.height, c.space, c.range, seed++);
        const std::vector<float> expected = byScaler(*frame);
        const std::vector<uint8_t> bytes = nearestBytes(expected);
        for (VectorUnits units : {VectorUnits::none, VectorUnits::avx2, VectorUnits::avx512}) {
            if (units > widestVectorUnits()) break;
            SCOPED_TRACE("vector units " + std::to_string(int(units)));
            EXPECT_EQ(differingValues(directly(*frame, units), expected), 0u);
            EXPECT_TRUE(directly<uint8_t>(*frame, units, PixelLayout::bgraBytes) == bytes);
        }
    }
}

// The converter takes the direct way once a first frame has come out the
// same both ways, and its values stay the scaler's, as floats or as the
// bytes nearest them, whichever the first frame was converted to.
TEST(YuvToFloatTest, TheConverterGoesDirectAfterCheckingTheFirstFrame) {
    for (const bool bytesFirst : {false, true}) {
        RgbaConverter converter(160, 90);
        for (unsigned seed : {7u, 8u}) {
            const auto frame = randomFrame(AV_PIX_FMT_YUV420P, 160, 90, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, seed);
            const std::vector<float> expected = byScaler(*frame);
            std::vector<float> rgba(160u * 90u * 4u);
            std::vector<uint8_t> bgra(160u * 90u * 4u);
            const auto floats = [&] {
                return converter.convert(*frame, PixelLayout::rgbaFloat, reinterpret_cast<std::byte*>(rgba.data()),
                                         160 * 16);
            };
            const auto bytes = [&] {
                return converter.convert(*frame, PixelLayout::bgraBytes, reinterpret_cast<std::byte*>(bgra.data()),
                                         160 * 4);
            };
            ASSERT_TRUE((bytesFirst ? bytes() : floats()).ok());
            EXPECT_TRUE(converter.convertsDirectly());
            ASSERT_TRUE((bytesFirst ? floats() : bytes()).ok());
            EXPECT_EQ(differingValues(rgba, expected), 0u);
            EXPECT_TRUE(bgra == nearestBytes(expected));
        }
    }
}

// Formats the direct conversion leaves to the scaler come out as bytes too.
TEST(YuvToFloatTest, TheScalersPicturesComeOutAsTheNearestBytes) {
    for (AVPixelFormat format : {AV_PIX_FMT_NV12, AV_PIX_FMT_YUV420P10LE}) {
        const auto frame = randomFrame(format, 64, 48, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, 3);
        EXPECT_TRUE(byScaler<uint8_t>(*frame, PixelLayout::bgraBytes) == nearestBytes(byScaler(*frame)))
            << av_get_pix_fmt_name(format);
    }
}

TEST(YuvToFloatTest, LeavesWhatItDoesNotCoverToTheScaler) {
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_NV12, AV_PIX_FMT_YUVA420P, AV_PIX_FMT_RGB24,
                                 AV_PIX_FMT_GRAY8}) {
        EXPECT_FALSE(YuvToFloat::make(format, 64, 64)) << av_get_pix_fmt_name(format);
    }
    EXPECT_FALSE(YuvToFloat::make(AV_PIX_FMT_YUV420P, 8, 8)) << "chroma too small for the scaler's usual path";
}

}  // namespace
}  // namespace kv
