#pragma once
// The plainest way to run a render pass, kept as the reference the software
// GPU's fast path must match bit for bit: every triangle tested at every
// pixel centre of the target, the fragment function called once per pixel,
// every pixel converted and stored on its own, and textures sampled by a
// plain filter of its own rather than the GPU's.
#include <cstdint>
#include <vector>

#include "platform/metal/metal.h"
#include "platform/metal/rasterizer.h"

namespace kv::test {

// The texture's pixels as packed rows of its stored format.
std::vector<uint8_t> packedPixels(const MTLTexture& texture);

// The target's packed pixels after the pass, starting from `before` (packed
// pixels of the target). The first draw the pass's rules reject ends it, as
// it ends the fast path's pass.
std::vector<uint8_t> referenceRender(const metal::RenderPass& pass, std::vector<uint8_t> before);

}  // namespace kv::test
