#include "host/program/encode_stage.h"

#include <gtest/gtest.h>

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

std::shared_ptr<IOSurface> picture(int64_t side) { return IOSurface::create(side, side, kCVPixelFormatType_32BGRA); }

TEST(EncodeStageTest, EncodesEveryQueuedPicture) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const kv::testing::ScratchDirectory scratch;
    const auto path = scratch.file("out.mp4");
    auto encoder = makeEncoder(path);
    ASSERT_TRUE(encoder);
    EncodeStage stage(*encoder, 1);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(stage.push(CMTimeMake(i, 10), picture(16)).ok());
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
    ASSERT_TRUE(stage.push(kCMTimeZero, picture(8)).ok());  // not the video's size
    Result<void> pushed;
    for (int i = 1; i < 20 && pushed.ok(); ++i) pushed = stage.push(CMTimeMake(i, 10), picture(16));
    EXPECT_FALSE(pushed.ok());
    const auto finished = stage.finish();
    ASSERT_FALSE(finished.ok());
    EXPECT_NE(finished.error().message.find("not of the video's size"), std::string::npos);
}

}  // namespace
}  // namespace kv::host
