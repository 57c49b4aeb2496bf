#include "host/video/video_clip.h"

#include <gtest/gtest.h>

#include "host/video/video_decoder.h"
#include "platform/foundation/log.h"
#include "tests/host/video/video_test_support.h"

namespace kv::host {
namespace {

using kv::testing::footage;

std::unique_ptr<VideoClip> openClip(const std::filesystem::path& path) {
    auto clip = VideoClip::open(path);
    if (!clip.ok()) {
        ADD_FAILURE() << clip.error().message;
        return nullptr;
    }
    return std::move(clip).value();
}

TEST(VideoClipTest, FramesAreTheDecodedPicturesAtTheClipsFrameTimes) {
    const auto path = footage("cup.mp4");
    KV_SKIP_WITHOUT(path);
    auto clip = openClip(path);
    ASSERT_TRUE(clip);
    const ClipFormat format = clip->format();
    EXPECT_EQ(format.width, 640);
    EXPECT_EQ(format.height, 480);
    EXPECT_EQ(format.frameCount, 217);
    // 26.777 fps counted in the stream's own ticks of 1/26777 s.
    EXPECT_EQ(format.frameDuration, CMTimeMake(1000, 26777));

    auto decoder = VideoDecoder::open(path);
    ASSERT_TRUE(decoder.ok());
    std::vector<VideoFrame> pictures;
    for (int i = 0; i < 6; ++i) pictures.push_back(*(*decoder)->readFrame().value());
    for (int64_t i : {0, 1, 2, 5, 3}) {  // forward, then back: a seek
        const Frame frame = clip->frame(i);
        EXPECT_EQ(frame.width, 640);
        EXPECT_EQ(frame.rgba, pictures[size_t(i)].rgba) << i;
    }

    // Surfaces get the same picture, written at the surface's own stride.
    for (OSType pixelFormat : {kCVPixelFormatType_128RGBAFloat, kCVPixelFormatType_64RGBAHalf}) {
        const auto surface = clip->frameSurface(4, pixelFormat);
        ASSERT_TRUE(surface);
        const Frame back = readFrameSurface(*surface);
        if (pixelFormat == kCVPixelFormatType_128RGBAFloat) {
            EXPECT_EQ(back.rgba, pictures[4].rgba);
        }
        EXPECT_EQ(back.width, 640);
    }
}

TEST(VideoClipTest, AFrameWhosePictureCannotBeDecodedHasNoPicture) {
    const auto path = footage("box.mp4");
    KV_SKIP_WITHOUT(path);
    LogCapture log;
    auto clip = openClip(path);
    ASSERT_TRUE(clip);
    const int64_t count = clip->format().frameCount;
    // The last of its 456 packets is marked to be decoded but not shown.
    ASSERT_EQ(count, 455);
    // The pictures of frames 1 and 2 cannot be decoded: they come without
    // pixels rather than as a copy of frame 0.
    const size_t full = size_t(640 * 480 * 4);
    EXPECT_EQ(clip->frame(0).rgba.size(), full);
    EXPECT_TRUE(clip->frame(1).rgba.empty());
    EXPECT_TRUE(clip->frame(2).rgba.empty());
    EXPECT_EQ(clip->frame(3).rgba.size(), full);
    int64_t absent = 0;
    for (int64_t i = 0; i < count; ++i) absent += clip->frame(i).rgba.empty();
    EXPECT_EQ(absent, 2);
}

// Frames are decoded on one thread and converted on others: they still come
// in order, each the picture the decoder gives read one by one, and a frame
// whose picture cannot be decoded keeps its place.
TEST(VideoClipConcurrencyTest, FramesDecodedAheadComeInOrderAsReadOneByOne) {
    for (const char* name : {"cup.mp4", "box.mp4"}) {
        const auto path = footage(name);
        KV_SKIP_WITHOUT(path);
        LogCapture log;
        auto clip = openClip(path);
        ASSERT_TRUE(clip);
        constexpr int64_t kFrames = 24;
        const CMTime start = clip->frameTime(0);
        auto sequence =
            clip->frames(CMTimeRangeMake(start, CMTimeSubtract(clip->frameTime(kFrames), start)),
                         kCVPixelFormatType_128RGBAFloat);
        ASSERT_TRUE(sequence.ok()) << name;
        auto decoder = VideoDecoder::open(path);
        ASSERT_TRUE(decoder.ok());
        int64_t index = 0;
        for (;; ++index) {
            auto frame = (*sequence)->next();
            ASSERT_TRUE(frame.ok()) << name;
            if (!*frame) break;
            EXPECT_EQ((*frame)->time, clip->frameTime(index)) << name << " " << index;
            if (!(*frame)->surface) continue;
            const auto picture = (*decoder)->readFrame().value();
            ASSERT_TRUE(picture);
            EXPECT_EQ(picture->time, (*frame)->time) << name << " " << index;
            EXPECT_TRUE(readFrameSurface(*(*frame)->surface).rgba == picture->rgba) << name << " " << index;
        }
        EXPECT_EQ(index, kFrames) << name;
    }
}

TEST(VideoClipTest, AFileThatIsNoVideoIsRefusedWithItsName) {
    kv::testing::ScratchDirectory scratch;
    kv::testing::writeBytes(scratch.file("x.mp4"), "no video");
    const auto refused = VideoClip::open(scratch.file("x.mp4"));
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find(scratch.file("x.mp4").string()), std::string::npos);
}

}  // namespace
}  // namespace kv::host
