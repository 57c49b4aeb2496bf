#include "plugin/metal_device_cache.h"

#include "platform/foundation/log.h"

namespace kv {

Result<std::shared_ptr<MetalDeviceCacheItem>> MetalDeviceCacheItem::init(std::shared_ptr<MTLDevice> device,
                                                                        MTLPixelFormat pixelFormat) {
    if (!device) return Error{"No GPU for the device cache item"};
    std::array<CommandQueueEntry, kCommandQueueCount> commandQueues;
    for (CommandQueueEntry& entry : commandQueues) entry.commandQueue = device->newCommandQueue();

    const std::shared_ptr<MTLLibrary> library = device->newDefaultLibrary();
    MTLRenderPipelineDescriptor descriptor;
    descriptor.label = "MetalBrightness";
    descriptor.setVertexFunction(library ? library->newFunctionWithName("vertexShader") : nullptr);
    descriptor.setFragmentFunction(library ? library->newFunctionWithName("fragmentShader") : nullptr);
    descriptor.colorAttachments[0].pixelFormat = pixelFormat;

    auto pipelineState = device->newRenderPipelineStateWithDescriptor(descriptor);
    if (!pipelineState.ok()) return pipelineState.error();
    return std::make_shared<MetalDeviceCacheItem>(ConstructionKey{}, std::move(device), std::move(*pipelineState),
                                                  pixelFormat, std::move(commandQueues));
}

MetalDeviceCacheItem::MetalDeviceCacheItem(ConstructionKey, std::shared_ptr<MTLDevice> device,
                                           std::shared_ptr<MTLRenderPipelineState> pipeline,
                                           MTLPixelFormat format,
                                           std::array<CommandQueueEntry, kCommandQueueCount> commandQueues)
    : gpuDevice(std::move(device)),
      pipelineState(std::move(pipeline)),
      pixelFormat(format),
      commandQueueCache(std::move(commandQueues)) {}

std::shared_ptr<MTLCommandQueue> MetalDeviceCacheItem::getCommandQueue() {
    std::lock_guard hold(commandQueueCacheLock);
    for (CommandQueueEntry& entry : commandQueueCache) {
        if (entry.inUse || !entry.commandQueue) continue;
        entry.inUse = true;
        return entry.commandQueue;
    }
    return nullptr;
}

bool MetalDeviceCacheItem::returnCommandQueue(const std::shared_ptr<MTLCommandQueue>& commandQueue) {
    std::lock_guard hold(commandQueueCacheLock);
    for (CommandQueueEntry& entry : commandQueueCache) {
        if (entry.commandQueue && entry.commandQueue == commandQueue) {
            entry.inUse = false;
            return true;
        }
    }
    return false;
}

MetalDeviceCache& MetalDeviceCache::shared() {
    static MetalDeviceCache* const cache = new MetalDeviceCache();  // lives until the process ends
    return *cache;
}

MetalDeviceCache::MetalDeviceCache() {
    for (const std::shared_ptr<MTLDevice>& device : MTLCopyAllDevices()) {
        auto item = MetalDeviceCacheItem::init(device, MTLPixelFormatRGBA16Float);
        if (!item.ok()) {
            NSLog("Unable to create device cache in Kestrelvantage.");
            continue;
        }
        deviceCaches.push_back(std::move(*item));
    }
}

std::vector<std::shared_ptr<MetalDeviceCacheItem>> MetalDeviceCache::items() const {
    std::lock_guard hold(deviceCachesLock);
    return deviceCaches;
}

std::shared_ptr<MTLDevice> MetalDeviceCache::device(uint64_t registryID) {
    std::lock_guard hold(deviceCachesLock);
    for (const auto& item : deviceCaches) {
        if (item->gpuDevice->registryID() == registryID) return item->gpuDevice;
    }
    return nullptr;
}

std::shared_ptr<MetalDeviceCacheItem> MetalDeviceCache::findItem(uint64_t registryID,
                                                                 MTLPixelFormat pixelFormat) const {
    std::lock_guard hold(deviceCachesLock);
    for (const auto& item : deviceCaches) {
        if (item->gpuDevice->registryID() == registryID && item->pixelFormat == pixelFormat) return item;
    }
    return nullptr;
}

std::shared_ptr<MetalDeviceCacheItem> MetalDeviceCache::itemFor(uint64_t registryID, MTLPixelFormat pixelFormat) {
    if (auto item = findItem(registryID, pixelFormat)) return item;

    std::lock_guard creating(itemCreationLock);
    // Another render may have made the item while this one waited.
    if (auto item = findItem(registryID, pixelFormat)) return item;
    std::shared_ptr<MTLDevice> device;
    for (const std::shared_ptr<MTLDevice>& candidate : MTLCopyAllDevices()) {
        if (candidate && candidate->registryID() == registryID) device = candidate;  // the last one wins
    }
    if (!device) return nullptr;
    auto item = MetalDeviceCacheItem::init(std::move(device), pixelFormat);
    if (!item.ok()) {
        NSLog("Unable to create a new cache item with the desired pixel format");
        return nullptr;
    }
    std::lock_guard hold(deviceCachesLock);
    deviceCaches.push_back(*item);
    return std::move(*item);
}

std::shared_ptr<MTLRenderPipelineState> MetalDeviceCache::pipelineState(uint64_t registryID,
                                                                        MTLPixelFormat pixelFormat) {
    const auto item = itemFor(registryID, pixelFormat);
    return item ? item->pipelineState : nullptr;
}

std::shared_ptr<MTLCommandQueue> MetalDeviceCache::commandQueue(uint64_t registryID, MTLPixelFormat pixelFormat) {
    const auto item = itemFor(registryID, pixelFormat);
    return item ? item->getCommandQueue() : nullptr;
}

void MetalDeviceCache::returnCommandQueue(const std::shared_ptr<MTLCommandQueue>& commandQueue) {
    for (const auto& item : items()) {
        if (item->returnCommandQueue(commandQueue)) return;
    }
}

}  // namespace kv
