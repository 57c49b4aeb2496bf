#include "platform/metal/mtl_command_buffer.h"

#include <utility>

#include "platform/foundation/process_setting.h"
#include "platform/metal/rasterizer.h"

namespace kv::metal {
namespace {

// Never destroyed: a render may still run while the process exits.
ProcessSetting<CommitObserver>& installedObserver() {
    static auto& observer = *new ProcessSetting<CommitObserver>;
    return observer;
}

std::vector<uint8_t> copyBytes(const void* bytes, NSUInteger length) {
    const auto* first = static_cast<const uint8_t*>(bytes);
    return bytes ? std::vector<uint8_t>(first, first + length) : std::vector<uint8_t>();
}

}  // namespace

CommitObserver setCommitObserver(CommitObserver observer) { return installedObserver().exchange(std::move(observer)); }

}  // namespace kv::metal

MTLRenderCommandEncoder::MTLRenderCommandEncoder(std::weak_ptr<MTLCommandBuffer> buffer,
                                                 MTLRenderPassColorAttachmentDescriptor attachment)
    : buffer_(std::move(buffer)) {
    pass_.colorAttachment = std::move(attachment);
}

void MTLRenderCommandEncoder::record(kv::metal::RenderCommand command) {
    if (!ended_) pass_.commands.push_back(std::move(command));
}

void MTLRenderCommandEncoder::setViewport(const MTLViewport& viewport) { record(kv::metal::SetViewport{viewport}); }

void MTLRenderCommandEncoder::setRenderPipelineState(std::shared_ptr<MTLRenderPipelineState> state) {
    record(kv::metal::SetPipelineState{std::move(state)});
}

void MTLRenderCommandEncoder::setVertexBytes(const void* bytes, NSUInteger length, NSUInteger index) {
    record(kv::metal::SetBytes{MTLFunctionTypeVertex, index, kv::metal::copyBytes(bytes, length)});
}

void MTLRenderCommandEncoder::setFragmentBytes(const void* bytes, NSUInteger length, NSUInteger index) {
    record(kv::metal::SetBytes{MTLFunctionTypeFragment, index, kv::metal::copyBytes(bytes, length)});
}

void MTLRenderCommandEncoder::setFragmentTexture(std::shared_ptr<MTLTexture> texture, NSUInteger index) {
    record(kv::metal::SetTexture{MTLFunctionTypeFragment, index, std::move(texture)});
}

void MTLRenderCommandEncoder::drawPrimitives(MTLPrimitiveType primitiveType, NSUInteger vertexStart,
                                             NSUInteger vertexCount) {
    record(kv::metal::Draw{primitiveType, vertexStart, vertexCount});
}

void MTLRenderCommandEncoder::endEncoding() {
    if (ended_) return;
    ended_ = true;
    if (const auto buffer = buffer_.lock()) buffer->passes_.push_back(std::move(pass_));
}

std::shared_ptr<MTLRenderCommandEncoder> MTLCommandBuffer::renderCommandEncoderWithDescriptor(
    const MTLRenderPassDescriptor& descriptor) {
    if (!descriptor.colorAttachments[0].texture || status_ >= MTLCommandBufferStatusCommitted) return nullptr;
    return std::make_shared<MTLRenderCommandEncoder>(weak_from_this(), descriptor.colorAttachments[0]);
}

void MTLCommandBuffer::enqueue() {
    if (status_ == MTLCommandBufferStatusNotEnqueued) status_ = MTLCommandBufferStatusEnqueued;
}

void MTLCommandBuffer::commit() {
    if (status_ >= MTLCommandBufferStatusCommitted) return;
    status_ = MTLCommandBufferStatusCommitted;
    if (const kv::metal::CommitObserver observer = kv::metal::installedObserver().get()) observer(label, passes_);
    for (const kv::metal::RenderPass& pass : passes_) {
        kv::Result<void> outcome = kv::metal::executeRenderPass(pass);
        if (!outcome.ok() && !error_) error_ = outcome.error();
    }
    passes_.clear();
    status_ = error_ ? MTLCommandBufferStatusError : MTLCommandBufferStatusCompleted;
}
