#include "host/synthetic_clip.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kv::host {
namespace {

SyntheticClip smallClip() {
    SyntheticClipSettings settings;
    settings.format = ClipFormat{64, 48, 10, CMTimeMake(1, 25), CMTimeMake(0, 25)};
    settings.seed = 7;
    return SyntheticClip(settings);
}

bool inside(const PixelRect& r, int64_t x, int64_t y) {
    return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

TEST(SyntheticClipTest, FramesAreDeterministicAndOnlyTheSquareChanges) {
    const SyntheticClip clip = smallClip();
    EXPECT_EQ(clip.frame(3).rgba, smallClip().frame(3).rgba);

    const PixelRect a = clip.objectRect(2);
    const PixelRect b = clip.objectRect(3);
    EXPECT_GT(b.x, a.x);
    EXPECT_GE(b.y, a.y);
    EXPECT_EQ(clip.objectRect(9).x + clip.objectRect(9).width, 64 - 64 / 10);

    const Frame first = clip.frame(2);
    const Frame second = clip.frame(3);
    int64_t changed = 0;
    for (int64_t y = 0; y < 48; ++y) {
        for (int64_t x = 0; x < 64; ++x) {
            const size_t i = size_t(y * 64 + x) * 4;
            const bool differs = first.rgba[i] != second.rgba[i] || first.rgba[i + 1] != second.rgba[i + 1];
            if (differs) {
                ++changed;
                EXPECT_TRUE(inside(a, x, y) || inside(b, x, y)) << x << "," << y;
            }
            EXPECT_EQ(first.rgba[i + 3], 1.0f);
        }
    }
    EXPECT_GT(changed, 0);
}

TEST(ClipSourceTest, FrameIndexAndRangeFollowTheClipsTimes) {
    const ClipFormat format{4, 4, 10, CMTimeMake(1001, 30000), CMTimeMake(1001, 1000)};
    EXPECT_EQ(clipTimeRange(format), CMTimeRangeMake(CMTimeMake(1001, 1000), CMTimeMake(10010, 30000)));
    EXPECT_EQ(clipFrameIndexAt(format, CMTimeMake(1001, 1000)), 0);
    EXPECT_EQ(clipFrameIndexAt(format, CMTimeAdd(CMTimeMake(1001, 1000), CMTimeMake(9009, 30000))), 9);
    EXPECT_EQ(clipFrameIndexAt(format, CMTimeAdd(CMTimeMake(1001, 1000), CMTimeMake(10010, 30000))), -1);
    EXPECT_EQ(clipFrameIndexAt(format, kCMTimeZero), -1);
    EXPECT_EQ(clipFrameIndexAt(format, kCMTimeInvalid), -1);
}

TEST(FrameSurfacesTest, FramesSurviveEachFormatAtTheSurfacesStride) {
    const Frame frame = smallClip().frame(0);
    const Frame odd{5, 3, std::vector<float>(frame.rgba.begin(), frame.rgba.begin() + 5 * 3 * 4)};

    auto exact = makeFrameSurface(odd, kCVPixelFormatType_128RGBAFloat);
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->bytesPerRow(), 128u);  // 80 bytes of pixels, padded
    EXPECT_EQ(readFrameSurface(*exact).rgba, odd.rgba);
    EXPECT_FALSE(exact->isLocked());

    for (OSType format : {kCVPixelFormatType_64RGBAHalf, kCVPixelFormatType_32BGRA}) {
        auto surface = makeFrameSurface(odd, format);
        ASSERT_TRUE(surface);
        const Frame back = readFrameSurface(*surface);
        const float tolerance = format == kCVPixelFormatType_32BGRA ? 0.5f / 255 : 1e-3f;
        for (size_t i = 0; i < odd.rgba.size(); ++i) EXPECT_NEAR(back.rgba[i], odd.rgba[i], tolerance) << i;
    }
    // Blue is stored first in a BGRA surface.
    const Frame blue{1, 1, {0, 0, 1, 1}};
    EXPECT_EQ(static_cast<const uint8_t*>(makeFrameSurface(blue, kCVPixelFormatType_32BGRA)->baseAddress())[0], 255);
    EXPECT_FALSE(makeFrameSurface(Frame{2, 2, {0, 0}}, kCVPixelFormatType_32BGRA));
}

TEST(FrameSurfacesTest, FullFrameTilesCoverTheSurface) {
    auto tile = makeFullFrameTile(IOSurface::create(7, 3, kCVPixelFormatType_32BGRA), FxMatrix44::scale(0.5, 0.5));
    EXPECT_EQ(tile->imagePixelBounds(), (FxRect{0, 0, 7, 3}));
    EXPECT_EQ(tile->tilePixelBounds(), tile->imagePixelBounds());
    EXPECT_EQ(tile->deviceRegistryID(), kHostDeviceRegistryID);
    EXPECT_EQ(tile->pixelTransform()->matrix()[0][0], 0.5);
}

}  // namespace
}  // namespace kv::host
