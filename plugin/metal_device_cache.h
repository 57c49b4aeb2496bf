#pragma once
// The process-wide cache of GPU state for the renderer: per GPU and pixel
// format, the render pipeline state built from the service's shader pair and
// a pool of five command queues. Building either is slow; the cache is made
// at the first render and kept until the process ends.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/result.h"
#include "platform/metal/metal.h"

namespace kv {

class MetalDeviceCacheItem {
public:
    static constexpr size_t kCommandQueueCount = 5;

    // One entry of the queue pool. An entry for which the device gave no
    // queue has none and is never handed out.
    struct CommandQueueEntry {
        bool inUse = false;
        std::shared_ptr<MTLCommandQueue> commandQueue;
    };

    // Makes the five queues and the pipeline state for colour format
    // `pixelFormat`; fails with the platform's error when the pipeline
    // cannot be built.
    static Result<std::shared_ptr<MetalDeviceCacheItem>> init(std::shared_ptr<MTLDevice> device,
                                                              MTLPixelFormat pixelFormat);

    // A free queue of the pool, now marked in use; none when all are taken.
    std::shared_ptr<MTLCommandQueue> getCommandQueue();
    // Marks the entry holding that very queue free again; false when no
    // entry of this pool holds it.
    bool returnCommandQueue(const std::shared_ptr<MTLCommandQueue>& commandQueue);

    const std::shared_ptr<MTLDevice> gpuDevice;
    const std::shared_ptr<MTLRenderPipelineState> pipelineState;
    const MTLPixelFormat pixelFormat;

private:
    struct ConstructionKey {};

public:
    MetalDeviceCacheItem(ConstructionKey, std::shared_ptr<MTLDevice> device,
                         std::shared_ptr<MTLRenderPipelineState> pipeline, MTLPixelFormat format,
                         std::array<CommandQueueEntry, kCommandQueueCount> commandQueues);

private:
    std::array<CommandQueueEntry, kCommandQueueCount> commandQueueCache;  // under commandQueueCacheLock
    std::mutex commandQueueCacheLock;
};

class MetalDeviceCache {
public:
    // The one cache of the process, made at first use from the system's GPUs.
    static MetalDeviceCache& shared();

    // A cache with one item per GPU of the system, each for RGBA16Float; a
    // GPU whose item cannot be made is logged and left out.
    MetalDeviceCache();
    MetalDeviceCache(const MetalDeviceCache&) = delete;
    MetalDeviceCache& operator=(const MetalDeviceCache&) = delete;

    // The GPU of the first item with that registry ID; none when no item has it.
    std::shared_ptr<MTLDevice> device(uint64_t registryID);
    // The pipeline state for the GPU and format, its item made on a miss;
    // none when the GPU does not exist or the item cannot be made.
    std::shared_ptr<MTLRenderPipelineState> pipelineState(uint64_t registryID, MTLPixelFormat pixelFormat);
    // A queue of the pool for the GPU and format, the item made on a miss;
    // none as above, or when that pool is exhausted.
    std::shared_ptr<MTLCommandQueue> commandQueue(uint64_t registryID, MTLPixelFormat pixelFormat);
    // Hands the queue back to the item whose pool holds it.
    void returnCommandQueue(const std::shared_ptr<MTLCommandQueue>& commandQueue);

    // The items, in the order they were made.
    std::vector<std::shared_ptr<MetalDeviceCacheItem>> items() const;

private:
    std::shared_ptr<MetalDeviceCacheItem> findItem(uint64_t registryID, MTLPixelFormat pixelFormat) const;
    // The matching item, made and appended on a miss; none on failure.
    std::shared_ptr<MetalDeviceCacheItem> itemFor(uint64_t registryID, MTLPixelFormat pixelFormat);

    // Walks and appends are guarded so that a render adding an item cannot
    // disturb another walking the list; no item's lock is taken under it.
    mutable std::mutex deviceCachesLock;
    std::vector<std::shared_ptr<MetalDeviceCacheItem>> deviceCaches;
    // Serialises the making of items on a miss, so one pair gets one item.
    std::mutex itemCreationLock;
};

}  // namespace kv
