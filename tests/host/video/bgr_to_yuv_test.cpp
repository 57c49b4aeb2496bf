// The direct BGR0 conversion against FFmpeg's scaler, sample for sample.
#include "host/video/bgr_to_yuv.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/video/ffmpeg_support.h"
#include "host/video/video_encoder.h"
#include "tests/host/video/video_test_support.h"

namespace kv {
namespace {

// A BGR0 picture of random bytes, the unread fourth byte and the padding
// past each row random too, rows a few bytes longer than the pixels.
struct Picture {
    int width;
    int height;
    size_t bytesPerRow;
    std::vector<uint8_t> bytes;
};

Picture randomPicture(int width, int height, unsigned seed) {
    Picture p{width, height, size_t(width) * 4 + 12, {}};
    p.bytes.resize(p.bytesPerRow * size_t(height));
    std::mt19937 random(seed);
    for (uint8_t& b : p.bytes) b = uint8_t(random());
    return p;
}

AVFramePtr emptyFrame(AVPixelFormat format, int width, int height) {
    AVFramePtr frame{av_frame_alloc()};
    frame->format = format;
    frame->width = width;
    frame->height = height;
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);  // rows padded for the scaler's vector stores
    return frame;
}

AVFramePtr byScaler(const Picture& p, AVPixelFormat format, int colorspace) {
    auto out = emptyFrame(format, p.width, p.height);
    const BgrScaler scaler = makeBgrScaler(p.width, p.height, format, colorspace);
    EXPECT_TRUE(scaler);
    const uint8_t* source[4] = {p.bytes.data()};
    const int stride[4] = {int(p.bytesPerRow)};
    if (scaler) sws_scale(scaler.get(), source, stride, 0, p.height, out->data, out->linesize);
    return out;
}

AVFramePtr directly(const Picture& p, AVPixelFormat format, int colorspace, VectorUnits units) {
    auto out = emptyFrame(format, p.width, p.height);
    const auto direct = BgrToYuv::make(format, p.width, p.height, sws_getCoefficients(colorspace));
    EXPECT_TRUE(direct);
    if (direct) direct->convert(p.bytes.data(), p.bytesPerRow, *out, units);
    return out;
}

// Samples of the planes that differ, counted over each plane's own size.
size_t differingSamples(const AVFrame& a, const AVFrame& b) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(a.format));
    size_t count = 0;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? AV_CEIL_RSHIFT(a.width, d->log2_chroma_w) : a.width;
        const int h = plane ? AV_CEIL_RSHIFT(a.height, d->log2_chroma_h) : a.height;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                count += a.data[plane][y * a.linesize[plane] + x] != b.data[plane][y * b.linesize[plane] + x];
            }
        }
    }
    return count;
}

struct Case {
    AVPixelFormat format;
    int width;
    int height;
    int colorspace = SWS_CS_ITU709;
};

TEST(BgrToYuvTest, EverySampleEqualsTheScalersForEachLayoutSizeAndMatrix) {
    const std::vector<Case> cases = {
        {AV_PIX_FMT_YUV420P, 1280, 720},  {AV_PIX_FMT_YUV420P, 98, 66},   {AV_PIX_FMT_YUV420P, 646, 481},
        {AV_PIX_FMT_YUV420P, 38, 35},     {AV_PIX_FMT_YUV420P, 6, 5},     {AV_PIX_FMT_YUV420P, 4, 3},
        {AV_PIX_FMT_YUV420P, 2, 2},       {AV_PIX_FMT_YUV420P, 2, 1},     {AV_PIX_FMT_YUV444P, 853, 481},
        {AV_PIX_FMT_YUV444P, 37, 35},     {AV_PIX_FMT_YUV444P, 1, 1},     {AV_PIX_FMT_YUV444P, 3, 7},
        {AV_PIX_FMT_YUV422P, 34, 17},     {AV_PIX_FMT_YUV440P, 33, 19},
        {AV_PIX_FMT_YUV420P, 98, 66, SWS_CS_DEFAULT},  {AV_PIX_FMT_YUV444P, 45, 9, SWS_CS_SMPTE240M},
        {AV_PIX_FMT_YUV420P, 130, 40, SWS_CS_BT2020},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(av_get_pix_fmt_name(c.format)) + " " + std::to_string(c.width) + "x" +
                     std::to_string(c.height) + " colorspace " + std::to_string(c.colorspace));
        const Picture p = randomPicture(c.width, c.height, seed++);
        const auto expected = byScaler(p, c.format, c.colorspace);
        for (VectorUnits units : {VectorUnits::none, VectorUnits::avx2}) {
            EXPECT_EQ(differingSamples(*directly(p, c.format, c.colorspace, units), *expected), 0u) << int(units);
        }
    }
}

// An H.264 encoder of 96x64 pictures into `path`; null without libx264.
std::unique_ptr<VideoEncoder> makeEncoder(const std::filesystem::path& path) {
    VideoEncoderSettings settings;
    settings.width = 96;
    settings.height = 64;
    settings.timescale = 10;
    settings.codec = "libx264";
    auto file = AtomicFile::open(path);
    if (!file) return nullptr;
    auto encoder = VideoEncoder::create(std::move(file).value(), settings);
    return encoder ? std::move(encoder).value() : nullptr;
}

// The encoder's picture of `p` has the scaler's samples.
void expectScalersPicture(VideoEncoder& encoder, const Picture& p) {
    const auto picture = encoder.convert(BgraImage{p.bytes.data(), p.bytesPerRow, p.width, p.height});
    ASSERT_TRUE(picture);
    EXPECT_EQ(differingSamples(**picture, *byScaler(p, AV_PIX_FMT_YUV420P, SWS_CS_ITU709)), 0u);
}

// The encoder converts directly once its first picture has come out the
// same both ways, and its pictures stay the scaler's.
TEST(BgrToYuvTest, TheEncoderGoesDirectAfterCheckingTheFirstPicture) {
    const kv::testing::ScratchDirectory scratch;
    const auto encoder = makeEncoder(scratch.file("out.mp4"));
    if (!encoder) GTEST_SKIP() << "no libx264 here";
    for (unsigned seed : {7u, 8u}) {
        expectScalersPicture(*encoder, randomPicture(96, 64, seed));
        EXPECT_TRUE(encoder->convertsDirectly());
    }
}

// Pictures converted on several threads at once, while the first is
// checked, all come out as the scaler's.
TEST(BgrToYuvConcurrencyTest, PicturesConvertedAtOnceAreTheScalers) {
    const kv::testing::ScratchDirectory scratch;
    const auto encoder = makeEncoder(scratch.file("out.mp4"));
    if (!encoder) GTEST_SKIP() << "no libx264 here";
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (unsigned seed = 0; seed < 3; ++seed) {
                expectScalersPicture(*encoder, randomPicture(96, 64, 10 * t + seed));
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(encoder->convertsDirectly());
}

TEST(BgrToYuvTest, LeavesWhatItDoesNotCoverToTheScaler) {
    const int* table = sws_getCoefficients(SWS_CS_ITU709);
    for (AVPixelFormat format : {AV_PIX_FMT_NV12, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV411P,
                                 AV_PIX_FMT_BGR0, AV_PIX_FMT_GRAY8}) {
        EXPECT_FALSE(BgrToYuv::make(format, 64, 64, table)) << av_get_pix_fmt_name(format);
    }
    EXPECT_FALSE(BgrToYuv::make(AV_PIX_FMT_YUV420P, 63, 64, table)) << "the scaler reads past odd rows halved";
    EXPECT_FALSE(BgrToYuv::make(AV_PIX_FMT_YUV420P, 0, 64, table));
}

}  // namespace
}  // namespace kv
