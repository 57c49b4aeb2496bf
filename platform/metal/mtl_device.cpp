#include "platform/metal/mtl_device.h"

#include <utility>

#include "platform/foundation/process_setting.h"
#include "platform/metal/mtl_command_buffer.h"

std::shared_ptr<MTLCommandBuffer> MTLCommandQueue::commandBuffer() {
    return std::make_shared<MTLCommandBuffer>(device_);
}

std::shared_ptr<MTLDevice> MTLDevice::make(MTLDeviceDescription description) {
    return std::shared_ptr<MTLDevice>(new MTLDevice(std::move(description)));
}

std::shared_ptr<MTLCommandQueue> MTLDevice::newCommandQueue() {
    const int64_t limit = description_.commandQueueLimit;
    if (limit >= 0 && queuesMade_.fetch_add(1) >= limit) return nullptr;
    return std::make_shared<MTLCommandQueue>(shared_from_this());
}

std::shared_ptr<MTLLibrary> MTLDevice::newDefaultLibrary() {
    return description_.loadsDefaultLibrary ? kv::metal::defaultLibrary() : nullptr;
}

kv::Result<std::shared_ptr<MTLRenderPipelineState>> MTLDevice::newRenderPipelineStateWithDescriptor(
    const MTLRenderPipelineDescriptor& descriptor) {
    const auto& vertex = descriptor.vertexFunction();
    const auto& fragment = descriptor.fragmentFunction();
    if (!vertex || vertex->functionType() != MTLFunctionTypeVertex) {
        return kv::Error{"Render pipeline \"" + descriptor.label + "\": no vertex function"};
    }
    if (!fragment || fragment->functionType() != MTLFunctionTypeFragment) {
        return kv::Error{"Render pipeline \"" + descriptor.label + "\": no fragment function"};
    }
    const MTLPixelFormat format = descriptor.colorAttachments[0].pixelFormat;
    if (kv::metal::bytesPerTexel(format) == 0) {
        return kv::Error{"Render pipeline \"" + descriptor.label + "\": colour format " + std::to_string(format) +
                         " cannot be drawn into"};
    }
    return std::make_shared<MTLRenderPipelineState>(descriptor.label, registryID(), vertex, fragment, format);
}

std::shared_ptr<MTLTexture> MTLDevice::newTextureWithDescriptor(const MTLTextureDescriptor& descriptor,
                                                                std::shared_ptr<IOSurface> surface,
                                                                NSUInteger plane) {
    if (plane != 0) return nullptr;
    return MTLTexture::overSurface(descriptor, std::move(surface), registryID());
}

namespace {

// Never destroyed: a render may still run while the process exits.
kv::ProcessSetting<kv::MetalDeviceSource>& installedDeviceSource() {
    static auto& source = *new kv::ProcessSetting<kv::MetalDeviceSource>;
    return source;
}

const std::shared_ptr<MTLDevice>& softwareGPU() {
    static const std::shared_ptr<MTLDevice> device =
        MTLDevice::make(MTLDeviceDescription{kv::kSoftwareGPURegistryID, "Software GPU", -1, true});
    return device;
}

}  // namespace

std::vector<std::shared_ptr<MTLDevice>> MTLCopyAllDevices() {
    if (const kv::MetalDeviceSource source = installedDeviceSource().get()) return source();
    return {softwareGPU()};
}

namespace kv {

MetalDeviceSource setMetalDeviceSource(MetalDeviceSource source) {
    return installedDeviceSource().exchange(std::move(source));
}

}  // namespace kv
