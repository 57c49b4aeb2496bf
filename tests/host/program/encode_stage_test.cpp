#include "host/program/encode_stage.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include <string>
#include <thread>
#include <vector>

#include "tests/host/video/video_test_support.h"

namespace kv::host {
namespace {

std::unique_ptr<VideoEncoder> makeEncoder(const std::filesystem::path& path) {
    VideoEncoderSettings settings;
    settings.width = 16;
    settings.height = 16;
    settings.timescale = 10;
    settings.frameDuration = CMTimeMake(1, 10);
    auto file = AtomicFile::open(path);
    if (!file) return nullptr;
    auto encoder = VideoEncoder::create(std::move(file).value(), settings);
    return encoder ? std::move(encoder).value() : nullptr;
}

CodecPicture picture(VideoEncoder& encoder) {
    const std::vector<uint8_t> pixels(16 * 16 * 4, 128);
    return encoder.convert(BgraImage{pixels.data(), 16 * 4, 16, 16}).value();
}

TEST(EncodeStageTest, EncodesEveryQueuedPicture) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const kv::testing::ScratchDirectory scratch;
    const auto path = scratch.file("out.mp4");
    auto encoder = makeEncoder(path);
    ASSERT_TRUE(encoder);
    EncodeStage stage(*encoder, 1);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(stage.push(CMTimeMake(i, 10), picture(*encoder)).ok());
    ASSERT_TRUE(stage.finish().ok());
    ASSERT_TRUE(encoder->finish().ok());
    const auto packets = kv::testing::ffprobePackets(path);
    EXPECT_EQ(packets.size(), 5u);
}

TEST(EncodeStageTest, TheEncodersErrorReachesTheFeederAndTheEnd) {
    const kv::testing::ScratchDirectory scratch;
    auto encoder = makeEncoder(scratch.file("out.mp4"));
    ASSERT_TRUE(encoder);
    EncodeStage stage(*encoder, 1);
    ASSERT_TRUE(stage.push(kCMTimeZero, nullptr).ok());  // no picture
    Result<void> pushed;
    for (int i = 1; i < 20 && pushed.ok(); ++i) pushed = stage.push(CMTimeMake(i, 10), picture(*encoder));
    EXPECT_FALSE(pushed.ok());
    const auto finished = stage.finish();
    ASSERT_FALSE(finished.ok());
    EXPECT_NE(finished.error().message.find("No picture to encode"), std::string::npos);
}

// The bytes of a converted picture, plane after plane.
std::string bytesOf(const AVFrame& frame) {
    const auto format = AVPixelFormat(frame.format);
    std::string bytes(size_t(av_image_get_buffer_size(format, frame.width, frame.height, 1)), '\0');
    av_image_copy_to_buffer(reinterpret_cast<uint8_t*>(bytes.data()), int(bytes.size()), frame.data, frame.linesize,
                            format, frame.width, frame.height, 1);
    return bytes;
}

TEST(VideoEncoderConcurrencyTest, PicturesConvertedOnSeveralThreadsAtOnceEqualThoseConvertedOneByOne) {
    const kv::testing::ScratchDirectory scratch;
    auto encoder = makeEncoder(scratch.file("out.mp4"));
    ASSERT_TRUE(encoder);
    constexpr int kThreads = 4;
    std::vector<std::vector<uint8_t>> images(kThreads, std::vector<uint8_t>(16 * 16 * 4));
    std::vector<std::string> alone;
    for (int t = 0; t < kThreads; ++t) {
        for (size_t i = 0; i < images[t].size(); ++i) images[t][i] = uint8_t(i * (t + 3) % 251);
        alone.push_back(bytesOf(*encoder->convert(BgraImage{images[t].data(), 16 * 4, 16, 16}).value()));
    }
    std::vector<std::vector<std::string>> together(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 8; ++round) {
                auto picture = encoder->convert(BgraImage{images[t].data(), 16 * 4, 16, 16});
                together[t].push_back(picture.ok() ? bytesOf(**picture) : "");
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (const std::string& bytes : together[t]) EXPECT_EQ(bytes, alone[t]) << "thread " << t;
    }
}

}  // namespace
}  // namespace kv::host
