#include "host/surface_pool.h"

#include <gtest/gtest.h>

#include <thread>

namespace kv::host {
namespace {

TEST(SurfacePoolTest, ASurfaceLetGoIsHandedOutAgainUpToTheKeptNumber) {
    const auto pool = SurfacePool::make(8, 4, kCVPixelFormatType_32BGRA, 1);
    auto first = pool->take();
    auto second = pool->take();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->width(), 8);
    EXPECT_EQ(first->pixelFormat(), kCVPixelFormatType_32BGRA);
    void* const memory = first->baseAddress();
    void* const other = second->baseAddress();
    first.reset();
    second.reset();  // beyond the one kept: freed
    const auto again = pool->take();
    EXPECT_EQ(again->baseAddress(), memory);
    EXPECT_NE(again->baseAddress(), other);
}

TEST(SurfacePoolTest, FitsOnlyItsOwnSizeAndFormat) {
    const auto pool = SurfacePool::make(8, 4, kCVPixelFormatType_32BGRA, 2);
    EXPECT_TRUE(pool->fits(8, 4, kCVPixelFormatType_32BGRA));
    EXPECT_FALSE(pool->fits(8, 5, kCVPixelFormatType_32BGRA));
    EXPECT_FALSE(pool->fits(8, 4, kCVPixelFormatType_128RGBAFloat));
}

TEST(SurfacePoolTest, ASurfaceOutlivesThePoolAndCancelEndsTaking) {
    auto pool = SurfacePool::make(2, 2, kCVPixelFormatType_128RGBAFloat, 2);
    ASSERT_TRUE(pool->reserve(2));
    auto held = pool->take();
    pool->cancel();
    EXPECT_EQ(pool->take(), nullptr);
    pool.reset();
    std::thread([surface = std::move(held)]() mutable { surface.reset(); }).join();
}

// Decoding ahead frees each surface as it comes back at the end of a run:
// reclaim must wait for one still held elsewhere, and stop waiting once cancelled.
TEST(SurfacePoolConcurrencyTest, ReclaimWaitsForASurfaceToComeBackAndEndsOnCancel) {
    const auto pool = SurfacePool::make(2, 2, kCVPixelFormatType_128RGBAFloat, 2);
    auto held = pool->take();
    ASSERT_TRUE(held);
    void* const memory = held->baseAddress();
    std::thread holder([surface = std::move(held)]() mutable { surface.reset(); });
    const auto reclaimed = pool->reclaim();
    holder.join();
    ASSERT_TRUE(reclaimed);
    EXPECT_EQ(reclaimed->baseAddress(), memory);

    std::thread canceller([&] { pool->cancel(); });
    EXPECT_EQ(pool->reclaim(), nullptr);
    canceller.join();
}

}  // namespace
}  // namespace kv::host
