#pragma once
// Textures of the software GPU. A texture lies over a pixel surface and reads
// and writes the surface's memory directly, as the platform's textures over
// shared surfaces do. Shaders see a texture as a view of float RGBA texels.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/iosurface/iosurface.h"
#include "platform/metal/mtl_types.h"

enum MTLTextureUsage : NSUInteger {
    MTLTextureUsageUnknown = 0,
    MTLTextureUsageShaderRead = 1,
    MTLTextureUsageShaderWrite = 2,
    MTLTextureUsageRenderTarget = 4,
};

struct MTLTextureDescriptor {
    MTLPixelFormat pixelFormat = MTLPixelFormatInvalid;
    NSUInteger width = 1;
    NSUInteger height = 1;
    NSUInteger usage = MTLTextureUsageShaderRead;

    static MTLTextureDescriptor texture2DDescriptor(MTLPixelFormat pixelFormat, NSUInteger width,
                                                    NSUInteger height);
};

class MTLTexture {
public:
    // A texture over `surface` as `descriptor` describes it, or null when the
    // format is not the surface's or the texture would not fit in it.
    static std::shared_ptr<MTLTexture> overSurface(const MTLTextureDescriptor& descriptor,
                                                   std::shared_ptr<IOSurface> surface, uint64_t deviceRegistryID);

    MTLPixelFormat pixelFormat() const { return pixelFormat_; }
    NSUInteger width() const { return width_; }
    NSUInteger height() const { return height_; }
    NSUInteger usage() const { return usage_; }
    uint64_t deviceRegistryID() const { return deviceRegistryID_; }
    const std::shared_ptr<IOSurface>& iosurface() const { return surface_; }
    uint8_t* row(NSUInteger y) const { return surface_->row(int64_t(y)); }

private:
    MTLTexture(const MTLTextureDescriptor& descriptor, std::shared_ptr<IOSurface> surface,
               uint64_t deviceRegistryID);

    MTLPixelFormat pixelFormat_;
    NSUInteger width_;
    NSUInteger height_;
    NSUInteger usage_;
    uint64_t deviceRegistryID_;
    std::shared_ptr<IOSurface> surface_;
};

namespace kv::metal {

// The texture format that reads a surface of `surfaceFormat`; invalid for a
// surface format no texture is made over.
MTLPixelFormat textureFormatOfSurface(OSType surfaceFormat);
// Bytes of one texel; 0 for a format the software GPU does not store.
size_t bytesPerTexel(MTLPixelFormat pixelFormat);

// Conversions of `count` pixels between a stored format and float RGBA, as
// the GPU converts: 8-bit values are v/255 on reading and round(v·255),
// clamped to 0...255, on writing (NaN writes 0); half floats round to
// nearest even.
void loadTexels(MTLPixelFormat pixelFormat, const uint8_t* stored, size_t count, float* rgba);
void storeTexels(MTLPixelFormat pixelFormat, const float* rgba, size_t count, uint8_t* stored);

// The texels of a texture as a fragment shader samples them: float RGBA
// rows, or the BGRA bytes of an 8-bit texture as they are stored.
struct TexelView {
    const float* texels = nullptr;
    size_t rowStride = 0;  // floats from one row to the next
    int32_t width = 0;
    int32_t height = 0;

    // Another filter in place of the GPU's own, for a view that brings one
    // (the tests' reference does); null for the GPU's.
    using SpanFilter = void (*)(const TexelView& view, const float* coordinates, size_t stride, int32_t count,
                                float* rgba);
    SpanFilter spanFilter = nullptr;

    // In place of `texels`, for an 8-bit texture: filtered in fixed point,
    // as a GPU filters 8-bit textures (filterBgraAt).
    const uint8_t* bgra = nullptr;
    size_t rowBytes = 0;

    // Filters linearly between the four texel centres around (u, v), in
    // fractions of the texture (0 at the left and top edges), with each tap
    // clamped to the edge: between the outermost texel centres and the
    // texture's edge a sample is the edge texel's own value. Coordinates
    // outside 0...1, or not numbers, give transparent black.
    void sample(float u, float v, float rgba[4]) const;
    // `sample` for `count` pixels at once: the coordinates of pixel i at
    // coordinates[i · stride], its colour at rgba[i · 4].
    void sampleSpan(const float* coordinates, size_t stride, int32_t count, float* rgba) const;
};

// A view of the texture's texels: its own memory for float RGBA and for
// 8-bit BGRA of at least 2×2 texels, otherwise the whole texture converted
// at once into `staging`.
TexelView texelView(const MTLTexture& texture, std::vector<float>& staging);

// The GPU's filter of an 8-bit texture at (u, v), as TexelView::sample
// describes it, in fixed point: the position and the edges are found as
// for floats, except that the texel pair starts no further than the
// next-to-last column and row (the last then weighs all but 1/32768); the
// fractions are weights in 1/32768, rounded to nearest and at most 32767;
// each texel is its byte in 1/128 steps, a pair is a + (b − a)·w in the
// rounding of mulhrs (x·w + 2^14 >> 15), first across, then down; the
// result is that value times 1/(255·128) as a float. Within 1/8192 of the
// exact filter of the bytes as v/255. Needs a view of at least 2×2 texels.
void filterBgraAt(const TexelView& view, float u, float v, float rgba[4]);

}  // namespace kv::metal
