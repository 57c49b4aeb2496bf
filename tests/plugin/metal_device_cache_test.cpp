#include "plugin/metal_device_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"
#include "platform/foundation/process_setting.h"

namespace kv {
namespace {

constexpr const char* kConstructionFailed = "Unable to create device cache in Kestrelvantage.";
constexpr const char* kItemFailed = "Unable to create a new cache item with the desired pixel format";

std::shared_ptr<MTLDevice> gpu(uint64_t registryID, int64_t queueLimit = -1, bool loadsLibrary = true) {
    return MTLDevice::make(MTLDeviceDescription{registryID, "GPU " + std::to_string(registryID), queueLimit, loadsLibrary});
}

// The system's GPUs, for as long as the test runs.
class MetalDeviceCacheTest : public ::testing::Test {
protected:
    void installGPUs(std::vector<std::shared_ptr<MTLDevice>> devices) {
        gpus_.emplace(setMetalDeviceSource, [devices] { return devices; });
    }

    LogCapture log;

private:
    std::optional<ScopedOverride<MetalDeviceSource>> gpus_;
};

TEST_F(MetalDeviceCacheTest, AnotherPixelFormatAddsAnItemAndLeavesTheOthers) {
    installGPUs({gpu(1), gpu(2)});
    MetalDeviceCache cache;
    const auto initial = cache.items();
    ASSERT_EQ(initial.size(), 2u);
    EXPECT_EQ(initial[0]->gpuDevice->registryID(), 1u);
    EXPECT_EQ(initial[1]->gpuDevice->registryID(), 2u);
    for (const auto& item : initial) EXPECT_EQ(item->pixelFormat, MTLPixelFormatRGBA16Float);
    EXPECT_EQ(initial[0]->pipelineState->label(), "MetalBrightness");
    EXPECT_EQ(initial[0]->pipelineState->colorPixelFormat(), MTLPixelFormatRGBA16Float);
    EXPECT_EQ(initial[0]->pipelineState->vertexFunction().name(), "vertexShader");
    EXPECT_EQ(initial[0]->pipelineState->fragmentFunction().name(), "fragmentShader");

    const auto state = cache.pipelineState(2, MTLPixelFormatBGRA8Unorm);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->colorPixelFormat(), MTLPixelFormatBGRA8Unorm);
    const auto items = cache.items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], initial[0]);
    EXPECT_EQ(items[1], initial[1]);
    EXPECT_EQ(items[2]->gpuDevice, initial[1]->gpuDevice);
    // Found, not made again; and the GPU's device is its first item's.
    EXPECT_EQ(cache.pipelineState(2, MTLPixelFormatBGRA8Unorm), state);
    EXPECT_EQ(cache.pipelineState(1, MTLPixelFormatRGBA16Float), initial[0]->pipelineState);
    EXPECT_EQ(cache.items().size(), 3u);
    EXPECT_EQ(cache.device(2), initial[1]->gpuDevice);
    EXPECT_EQ(log.lines().size(), 0u);
}

TEST_F(MetalDeviceCacheTest, APoolHandsOutFiveQueuesAndTakesThemBack) {
    installGPUs({gpu(1)});
    MetalDeviceCache cache;
    std::vector<std::shared_ptr<MTLCommandQueue>> taken;
    for (int i = 0; i < 5; ++i) taken.push_back(cache.commandQueue(1, MTLPixelFormatRGBA16Float));
    EXPECT_EQ(std::set(taken.begin(), taken.end()).size(), 5u);
    EXPECT_FALSE(cache.commandQueue(1, MTLPixelFormatRGBA16Float));
    EXPECT_EQ(cache.items().size(), 1u);  // an exhausted pool makes no second item

    cache.returnCommandQueue(taken[3]);
    EXPECT_EQ(cache.commandQueue(1, MTLPixelFormatRGBA16Float), taken[3]);
    EXPECT_FALSE(cache.commandQueue(1, MTLPixelFormatRGBA16Float));
}

TEST_F(MetalDeviceCacheTest, GivingBackTwiceOrAForeignQueueFreesNothingElse) {
    installGPUs({gpu(1)});
    MetalDeviceCache cache;
    const auto other = cache.commandQueue(1, MTLPixelFormatRGBA32Float);  // another item's
    std::vector<std::shared_ptr<MTLCommandQueue>> taken;
    for (int i = 0; i < 5; ++i) taken.push_back(cache.commandQueue(1, MTLPixelFormatRGBA16Float));

    cache.returnCommandQueue(other);
    cache.returnCommandQueue(gpu(1)->newCommandQueue());
    cache.returnCommandQueue(nullptr);
    EXPECT_FALSE(cache.commandQueue(1, MTLPixelFormatRGBA16Float));

    cache.returnCommandQueue(taken[0]);
    cache.returnCommandQueue(taken[0]);
    EXPECT_EQ(cache.commandQueue(1, MTLPixelFormatRGBA16Float), taken[0]);
    EXPECT_FALSE(cache.commandQueue(1, MTLPixelFormatRGBA16Float));
    // The other item's queue went back to that item.
    EXPECT_EQ(cache.commandQueue(1, MTLPixelFormatRGBA32Float), other);
}

TEST_F(MetalDeviceCacheTest, AGPUWithoutTheShadersGetsNoItemAndEveryLookupTriesAgain) {
    installGPUs({gpu(1, -1, false), gpu(2)});
    MetalDeviceCache cache;
    EXPECT_EQ(log.count(kConstructionFailed), 1u);
    ASSERT_EQ(cache.items().size(), 1u);
    EXPECT_FALSE(cache.device(1));
    EXPECT_TRUE(cache.device(2));

    EXPECT_FALSE(cache.pipelineState(1, MTLPixelFormatRGBA16Float));
    EXPECT_FALSE(cache.commandQueue(1, MTLPixelFormatRGBA16Float));
    EXPECT_EQ(log.count(kItemFailed), 2u);
    EXPECT_FALSE(cache.pipelineState(2, 70));  // a format no pipeline draws into
    EXPECT_EQ(log.count(kItemFailed), 3u);
    EXPECT_EQ(cache.items().size(), 1u);
}

TEST_F(MetalDeviceCacheTest, AnUnknownGPUGivesNothingAndLogsNothing) {
    installGPUs({gpu(1)});
    MetalDeviceCache cache;
    EXPECT_FALSE(cache.device(9));
    EXPECT_FALSE(cache.pipelineState(9, MTLPixelFormatRGBA16Float));
    EXPECT_FALSE(cache.commandQueue(9, MTLPixelFormatRGBA16Float));
    EXPECT_TRUE(log.lines().empty());

    installGPUs({});
    MetalDeviceCache empty;
    EXPECT_TRUE(empty.items().empty());
    EXPECT_FALSE(empty.commandQueue(1, MTLPixelFormatRGBA16Float));
}

TEST_F(MetalDeviceCacheTest, QueuesTheGPUCouldNotMakeAreNeverHandedOut) {
    installGPUs({gpu(1, 0), gpu(2, 3)});
    MetalDeviceCache cache;
    ASSERT_EQ(cache.items().size(), 2u);
    EXPECT_FALSE(cache.commandQueue(1, MTLPixelFormatRGBA16Float));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(cache.commandQueue(2, MTLPixelFormatRGBA16Float));
    EXPECT_FALSE(cache.commandQueue(2, MTLPixelFormatRGBA16Float));
}

TEST_F(MetalDeviceCacheTest, OfSeveralGPUsWithOneIDTheLastServesAMiss) {
    const auto first = gpu(5, 0, false);  // gets no item at construction
    const auto last = gpu(5);
    installGPUs({first, last});
    MetalDeviceCache cache;
    ASSERT_EQ(cache.items().size(), 1u);
    EXPECT_EQ(cache.device(5), last);
    ASSERT_TRUE(cache.pipelineState(5, MTLPixelFormatRGBA32Float));
    EXPECT_EQ(cache.items()[1]->gpuDevice, last);
}

TEST_F(MetalDeviceCacheTest, SharedCacheIsOneForTheProcess) {
    EXPECT_EQ(&MetalDeviceCache::shared(), &MetalDeviceCache::shared());
}

class MetalDeviceCacheConcurrencyTest : public MetalDeviceCacheTest {};

TEST_F(MetalDeviceCacheConcurrencyTest, NoQueueIsLentTwiceAndConcurrentMissesMakeOneItem) {
    installGPUs({gpu(1)});
    MetalDeviceCache cache;
    std::mutex mutex;
    std::set<MTLCommandQueue*> lent;
    std::atomic<int> doubleLends{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const MTLPixelFormat format = t % 2 ? MTLPixelFormatRGBA32Float : MTLPixelFormatBGRA8Unorm;
            for (int i = 0; i < 200; ++i) {
                const auto queue = cache.commandQueue(1, format);
                if (!queue) continue;
                {
                    std::lock_guard hold(mutex);
                    if (!lent.insert(queue.get()).second) ++doubleLends;
                }
                EXPECT_TRUE(cache.device(1));
                {
                    std::lock_guard hold(mutex);
                    lent.erase(queue.get());
                }
                cache.returnCommandQueue(queue);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(doubleLends.load(), 0);
    EXPECT_EQ(cache.items().size(), 3u);
    for (MTLPixelFormat format : {MTLPixelFormatRGBA32Float, MTLPixelFormatBGRA8Unorm}) {
        for (int i = 0; i < 5; ++i) EXPECT_TRUE(cache.commandQueue(1, format));
    }
}

}  // namespace
}  // namespace kv
