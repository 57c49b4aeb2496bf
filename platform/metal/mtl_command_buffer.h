#pragma once
// Command buffers of the software GPU and the render passes encoded into
// them. An encoder records its commands; the GPU runs a buffer's passes when
// it is committed, in the order they were encoded, and the buffer is
// complete once commit returns, so that waiting never blocks long.
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/result.h"
#include "platform/metal/mtl_device.h"
#include "platform/metal/mtl_texture.h"
#include "platform/metal/mtl_types.h"

struct MTLRenderPassColorAttachmentDescriptor {
    std::shared_ptr<MTLTexture> texture;
    MTLClearColor clearColor = MTLClearColorMake(0.0, 0.0, 0.0, 1.0);
    MTLLoadAction loadAction = MTLLoadActionDontCare;
    MTLStoreAction storeAction = MTLStoreActionStore;
};

struct MTLRenderPassDescriptor {
    std::array<MTLRenderPassColorAttachmentDescriptor, 8> colorAttachments{};
};

namespace kv::metal {

// The commands of a render pass, as the encoder records them.
struct SetViewport {
    MTLViewport viewport;
};
struct SetPipelineState {
    std::shared_ptr<MTLRenderPipelineState> state;
};
struct SetBytes {
    MTLFunctionType stage;
    NSUInteger index;
    std::vector<uint8_t> bytes;
};
struct SetTexture {
    MTLFunctionType stage;
    NSUInteger index;
    std::shared_ptr<MTLTexture> texture;
};
struct Draw {
    MTLPrimitiveType primitiveType;
    NSUInteger vertexStart;
    NSUInteger vertexCount;
};
using RenderCommand = std::variant<SetViewport, SetPipelineState, SetBytes, SetTexture, Draw>;

struct RenderPass {
    MTLRenderPassColorAttachmentDescriptor colorAttachment;
    std::vector<RenderCommand> commands;
};

// Called with every committed buffer's label and passes just before the GPU
// runs them (tests watch what a render encodes this way).
using CommitObserver = std::function<void(const std::string& label, const std::vector<RenderPass>& passes)>;

// Installs the observer; an empty one removes it. Returns the one before.
CommitObserver setCommitObserver(CommitObserver observer);

}  // namespace kv::metal

class MTLCommandBuffer;

class MTLRenderCommandEncoder {
public:
    MTLRenderCommandEncoder(std::weak_ptr<MTLCommandBuffer> buffer, MTLRenderPassColorAttachmentDescriptor attachment);

    void setViewport(const MTLViewport& viewport);
    void setRenderPipelineState(std::shared_ptr<MTLRenderPipelineState> state);
    void setVertexBytes(const void* bytes, NSUInteger length, NSUInteger index);
    void setFragmentBytes(const void* bytes, NSUInteger length, NSUInteger index);
    void setFragmentTexture(std::shared_ptr<MTLTexture> texture, NSUInteger index);
    void drawPrimitives(MTLPrimitiveType primitiveType, NSUInteger vertexStart, NSUInteger vertexCount);
    // Hands the pass to the command buffer; later commands are ignored.
    void endEncoding();

private:
    void record(kv::metal::RenderCommand command);

    std::weak_ptr<MTLCommandBuffer> buffer_;
    kv::metal::RenderPass pass_;
    bool ended_ = false;
};

class MTLCommandBuffer : public std::enable_shared_from_this<MTLCommandBuffer> {
public:
    explicit MTLCommandBuffer(std::shared_ptr<MTLDevice> device) : device_(std::move(device)) {}

    std::string label;

    const std::shared_ptr<MTLDevice>& device() const { return device_; }
    // An encoder drawing into colour attachment 0; null when it has no texture.
    std::shared_ptr<MTLRenderCommandEncoder> renderCommandEncoderWithDescriptor(
        const MTLRenderPassDescriptor& descriptor);

    void enqueue();
    // Runs the encoded passes; a buffer is committed once.
    void commit();
    void waitUntilCompleted() {}
    MTLCommandBufferStatus status() const { return status_; }
    // Why the buffer ended in the error status.
    const std::optional<kv::Error>& error() const { return error_; }

private:
    friend class MTLRenderCommandEncoder;

    std::shared_ptr<MTLDevice> device_;
    std::vector<kv::metal::RenderPass> passes_;
    MTLCommandBufferStatus status_ = MTLCommandBufferStatusNotEnqueued;
    std::optional<kv::Error> error_;
};
