#include "platform/iosurface/iosurface.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(IOSurfaceTest, RowsArePaddedToSixtyFourBytes) {
    struct Case {
        int64_t width;
        OSType format;
        size_t bytesPerRow;
    };
    for (const Case& c : {Case{3, kCVPixelFormatType_128RGBAFloat, 64}, Case{4, kCVPixelFormatType_128RGBAFloat, 64},
                          Case{5, kCVPixelFormatType_128RGBAFloat, 128}, Case{17, kCVPixelFormatType_32BGRA, 128},
                          Case{16, kCVPixelFormatType_32BGRA, 64}, Case{9, kCVPixelFormatType_64RGBAHalf, 128}}) {
        auto surface = IOSurface::create(c.width, 3, c.format);
        ASSERT_TRUE(surface);
        EXPECT_EQ(surface->bytesPerRow(), c.bytesPerRow) << c.width;
        EXPECT_EQ(surface->allocationSize(), c.bytesPerRow * 3);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(surface->baseAddress()) % 64, 0u);
        EXPECT_EQ(surface->pixelFormat(), c.format);
    }
}

TEST(IOSurfaceTest, AnUnclearedSurfaceHasTheSameRowsAndAlignment) {
    const auto surface = IOSurface::create(5, 3, kCVPixelFormatType_128RGBAFloat, IOSurface::Contents::uncleared);
    ASSERT_TRUE(surface);
    EXPECT_EQ(surface->bytesPerRow(), 128u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(surface->baseAddress()) % 64, 0u);
    EXPECT_FALSE(IOSurface::create(0, 3, kCVPixelFormatType_128RGBAFloat, IOSurface::Contents::uncleared));
}

TEST(IOSurfaceTest, NoSurfaceForUnknownFormatsOrEmptyOrHugeSizes) {
    EXPECT_FALSE(IOSurface::create(4, 4, fourCharCode("abcd")));
    EXPECT_FALSE(IOSurface::create(0, 4, kCVPixelFormatType_32BGRA));
    EXPECT_FALSE(IOSurface::create(4, -1, kCVPixelFormatType_32BGRA));
    EXPECT_FALSE(IOSurface::create(int64_t(1) << 40, 4, kCVPixelFormatType_32BGRA));
}

TEST(IOSurfaceTest, LocksNestAndOnlyWriteUnlocksChangeTheSeed) {
    auto surface = IOSurface::create(2, 2, kCVPixelFormatType_128RGBAFloat);
    EXPECT_EQ(surface->unlockWithOptions(kIOSurfaceLockReadOnly, nullptr), kIOReturnNotLocked);
    uint32_t seed = 99;
    EXPECT_EQ(surface->lockWithOptions(kIOSurfaceLockReadOnly, &seed), kIOReturnSuccess);
    EXPECT_EQ(seed, 0u);
    EXPECT_EQ(surface->lockWithOptions(kIOSurfaceLockReadOnly, nullptr), kIOReturnSuccess);
    EXPECT_EQ(surface->unlockWithOptions(kIOSurfaceLockReadOnly, nullptr), kIOReturnSuccess);
    EXPECT_TRUE(surface->isLocked());
    EXPECT_EQ(surface->unlockWithOptions(0, nullptr), kIOReturnNotLocked);  // no write lock held
    EXPECT_EQ(surface->unlockWithOptions(kIOSurfaceLockReadOnly, nullptr), kIOReturnSuccess);
    EXPECT_FALSE(surface->isLocked());
    EXPECT_EQ(surface->seed(), 0u);

    surface->lockWithOptions(0, nullptr);
    EXPECT_EQ(surface->unlockWithOptions(0, &seed), kIOReturnSuccess);
    EXPECT_EQ(seed, 1u);
}

TEST(IOSurfaceTest, AScopedLockHoldsForItsLifeAndAWriteLockCountsInTheSeed) {
    auto surface = IOSurface::create(2, 2, kCVPixelFormatType_32BGRA);
    for (const auto access : {IOSurfaceLock::Access::read, IOSurfaceLock::Access::write}) {
        {
            const IOSurfaceLock lock(*surface, access);
            EXPECT_TRUE(surface->isLocked());
        }
        EXPECT_FALSE(surface->isLocked());
    }
    EXPECT_EQ(surface->seed(), 1u);
}

}  // namespace
