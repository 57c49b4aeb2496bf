#pragma once
// The GPUs of the software platform, their render pipeline states and their
// command queues. A device is named by its registry ID, the number the host
// also gives for the GPU that holds an image.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/result.h"
#include "platform/iosurface/iosurface.h"
#include "platform/metal/mtl_function.h"
#include "platform/metal/mtl_texture.h"
#include "platform/metal/mtl_types.h"

class MTLCommandBuffer;
class MTLCommandQueue;
class MTLDevice;

struct MTLRenderPipelineColorAttachmentDescriptor {
    MTLPixelFormat pixelFormat = MTLPixelFormatInvalid;
};

class MTLRenderPipelineDescriptor {
public:
    std::string label;
    std::array<MTLRenderPipelineColorAttachmentDescriptor, 8> colorAttachments{};

    void setVertexFunction(std::shared_ptr<MTLFunction> function) { vertexFunction_ = std::move(function); }
    void setFragmentFunction(std::shared_ptr<MTLFunction> function) { fragmentFunction_ = std::move(function); }
    const std::shared_ptr<MTLFunction>& vertexFunction() const { return vertexFunction_; }
    const std::shared_ptr<MTLFunction>& fragmentFunction() const { return fragmentFunction_; }

private:
    std::shared_ptr<MTLFunction> vertexFunction_;
    std::shared_ptr<MTLFunction> fragmentFunction_;
};

// A compiled pair of shaders for one colour format; immutable once made.
class MTLRenderPipelineState {
public:
    MTLRenderPipelineState(std::string label, uint64_t deviceRegistryID, std::shared_ptr<MTLFunction> vertexFunction,
                           std::shared_ptr<MTLFunction> fragmentFunction, MTLPixelFormat colorPixelFormat)
        : label_(std::move(label)),
          deviceRegistryID_(deviceRegistryID),
          vertexFunction_(std::move(vertexFunction)),
          fragmentFunction_(std::move(fragmentFunction)),
          colorPixelFormat_(colorPixelFormat) {}

    const std::string& label() const { return label_; }
    uint64_t deviceRegistryID() const { return deviceRegistryID_; }
    const MTLFunction& vertexFunction() const { return *vertexFunction_; }
    const MTLFunction& fragmentFunction() const { return *fragmentFunction_; }
    MTLPixelFormat colorPixelFormat() const { return colorPixelFormat_; }

private:
    std::string label_;
    uint64_t deviceRegistryID_;
    std::shared_ptr<MTLFunction> vertexFunction_;
    std::shared_ptr<MTLFunction> fragmentFunction_;
    MTLPixelFormat colorPixelFormat_;
};

class MTLCommandQueue {
public:
    explicit MTLCommandQueue(std::shared_ptr<MTLDevice> device) : device_(std::move(device)) {}

    const std::shared_ptr<MTLDevice>& device() const { return device_; }
    // A new command buffer; its work runs in the order of commits.
    std::shared_ptr<MTLCommandBuffer> commandBuffer();

private:
    std::shared_ptr<MTLDevice> device_;
};

// How a software device behaves, so that tests can stand in any GPU.
struct MTLDeviceDescription {
    uint64_t registryID = 0;
    std::string name = "Software GPU";
    // How many command queues the device makes before it makes no more;
    // negative for no limit.
    int64_t commandQueueLimit = -1;
    // Whether the service's default library loads on this device.
    bool loadsDefaultLibrary = true;
};

class MTLDevice : public std::enable_shared_from_this<MTLDevice> {
public:
    static std::shared_ptr<MTLDevice> make(MTLDeviceDescription description);

    uint64_t registryID() const { return description_.registryID; }
    const std::string& name() const { return description_.name; }

    // A new queue; null once the device has made all the queues it can.
    std::shared_ptr<MTLCommandQueue> newCommandQueue();
    // The service's default library; null when there is none.
    std::shared_ptr<MTLLibrary> newDefaultLibrary();
    // Fails when a function is missing or of the wrong kind, or the colour
    // format is not one the device draws into.
    kv::Result<std::shared_ptr<MTLRenderPipelineState>> newRenderPipelineStateWithDescriptor(
        const MTLRenderPipelineDescriptor& descriptor);
    // A texture over plane 0 of the surface; null when it does not fit it.
    std::shared_ptr<MTLTexture> newTextureWithDescriptor(const MTLTextureDescriptor& descriptor,
                                                         std::shared_ptr<IOSurface> surface, NSUInteger plane);

private:
    explicit MTLDevice(MTLDeviceDescription description) : description_(std::move(description)) {}

    MTLDeviceDescription description_;
    std::atomic<int64_t> queuesMade_{0};
};

// Every GPU of the system, in the platform's order.
std::vector<std::shared_ptr<MTLDevice>> MTLCopyAllDevices();

namespace kv {

// The one GPU of the software platform, on which the host places its images.
inline constexpr uint64_t kSoftwareGPURegistryID = 0x1000;

using MetalDeviceSource = std::function<std::vector<std::shared_ptr<MTLDevice>>()>;

// Replaces where `MTLCopyAllDevices` takes the system's GPUs from; an empty
// source restores the software GPU. Returns the source installed before.
MetalDeviceSource setMetalDeviceSource(MetalDeviceSource source);

}  // namespace kv
