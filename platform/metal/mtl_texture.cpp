#include "platform/metal/mtl_texture.h"

#include "platform/dispatch/dispatch.h"
#include "platform/iosurface/pixel_rows.h"
#include "platform/iosurface/pixel_values.h"
#include "platform/metal/kernels_avx2.h"
#include "platform/metal/kernels_avx512.h"

#include <algorithm>
#include <cmath>
#include <cstring>

MTLTextureDescriptor MTLTextureDescriptor::texture2DDescriptor(MTLPixelFormat pixelFormat, NSUInteger width,
                                                               NSUInteger height) {
    MTLTextureDescriptor descriptor;
    descriptor.pixelFormat = pixelFormat;
    descriptor.width = width;
    descriptor.height = height;
    return descriptor;
}

std::shared_ptr<MTLTexture> MTLTexture::overSurface(const MTLTextureDescriptor& descriptor,
                                                    std::shared_ptr<IOSurface> surface, uint64_t deviceRegistryID) {
    if (!surface || kv::metal::textureFormatOfSurface(surface->pixelFormat()) != descriptor.pixelFormat ||
        descriptor.width == 0 || descriptor.height == 0 || descriptor.width > NSUInteger(surface->width()) ||
        descriptor.height > NSUInteger(surface->height())) {
        return nullptr;
    }
    return std::shared_ptr<MTLTexture>(new MTLTexture(descriptor, std::move(surface), deviceRegistryID));
}

MTLTexture::MTLTexture(const MTLTextureDescriptor& descriptor, std::shared_ptr<IOSurface> surface,
                       uint64_t deviceRegistryID)
    : pixelFormat_(descriptor.pixelFormat),
      width_(descriptor.width),
      height_(descriptor.height),
      usage_(descriptor.usage),
      deviceRegistryID_(deviceRegistryID),
      surface_(std::move(surface)) {}

namespace kv::metal {
namespace {

// The surface format whose pixels a texel of `pixelFormat` stores as they are.
OSType surfaceFormatOfTexture(MTLPixelFormat pixelFormat) {
    switch (pixelFormat) {
        case MTLPixelFormatRGBA32Float: return kCVPixelFormatType_128RGBAFloat;
        case MTLPixelFormatRGBA16Float: return kCVPixelFormatType_64RGBAHalf;
        case MTLPixelFormatBGRA8Unorm: return kCVPixelFormatType_32BGRA;
        default: return 0;
    }
}

}  // namespace

MTLPixelFormat textureFormatOfSurface(OSType surfaceFormat) {
    switch (surfaceFormat) {
        case kCVPixelFormatType_128RGBAFloat: return MTLPixelFormatRGBA32Float;
        case kCVPixelFormatType_64RGBAHalf: return MTLPixelFormatRGBA16Float;
        case kCVPixelFormatType_32BGRA: return MTLPixelFormatBGRA8Unorm;
        default: return MTLPixelFormatInvalid;
    }
}

size_t bytesPerTexel(MTLPixelFormat pixelFormat) {
    switch (pixelFormat) {
        case MTLPixelFormatRGBA32Float: return 16;
        case MTLPixelFormatRGBA16Float: return 8;
        case MTLPixelFormatBGRA8Unorm: return 4;
        default: return 0;
    }
}

void loadTexels(MTLPixelFormat pixelFormat, const uint8_t* stored, size_t count, float* rgba) {
    kv::loadPixelRow(surfaceFormatOfTexture(pixelFormat), stored, count, rgba);
}

void storeTexels(MTLPixelFormat pixelFormat, const float* rgba, size_t count, uint8_t* stored) {
    // Bytes of BGRA several pixels at a time where the CPU can, each the
    // byte the plain conversion gives; the rest as the surface stores them.
    size_t done = 0;
    if (pixelFormat == MTLPixelFormatBGRA8Unorm) {
        if (avx512::supported()) done = avx512::storeBgraBytes(rgba, count, stored);
        if (avx2::supported()) done += avx2::storeBgraBytes(rgba + done * 4, count - done, stored + done * 4);
    }
    kv::storePixelRow(surfaceFormatOfTexture(pixelFormat), rgba + done * 4, count - done, stored + done * 4);
}

namespace {

// The position in texels of (u, v), held between the outermost texel
// centres; false, with transparent black in `rgba`, for a coordinate
// outside 0...1 or not a number.
inline bool texelPosition(const TexelView& view, float u, float v, float* rgba, float& x, float& y) {
    if (!(u >= 0.0f && u <= 1.0f && v >= 0.0f && v <= 1.0f)) {
        rgba[0] = rgba[1] = rgba[2] = rgba[3] = 0.0f;
        return false;
    }
    x = std::min(std::max(u * float(view.width) - 0.5f, 0.0f), float(view.width - 1));
    y = std::min(std::max(v * float(view.height) - 0.5f, 0.0f), float(view.height - 1));
    return true;
}

// The filtered texel at (u, v); see TexelView::sample. Inside the texture
// the position is clamped to the outermost texel centres, which is the same
// as clamping each tap to the edge, and leaves the edge texel's own value
// there exactly.
inline void filterAt(const TexelView& view, float u, float v, float* rgba) {
    float x = 0.0f;
    float y = 0.0f;
    if (!texelPosition(view, u, v, rgba, x, y)) return;
    // Both are at least 0, so truncation is the floor.
    const int32_t x0 = int32_t(x);
    const int32_t y0 = int32_t(y);
    const float fx = x - float(x0);
    const float fy = y - float(y0);
    const float* t00 = view.texels + size_t(y0) * view.rowStride + size_t(x0) * 4;
    const float* t10 = x0 + 1 < view.width ? t00 + 4 : t00;
    const size_t down = y0 + 1 < view.height ? view.rowStride : 0;
    const float* t01 = t00 + down;
    const float* t11 = t10 + down;
    // The four channels side by side: each lane does the same operations, in
    // the same order, as it would alone.
    using Channels = float __attribute__((vector_size(16)));
    const auto load = [](const float* texel) {
        Channels channels;
        std::memcpy(&channels, texel, sizeof(channels));
        return channels;
    };
    const float gx = 1.0f - fx;
    const float gy = 1.0f - fy;
    const Channels upper = load(t00) * gx + load(t10) * fx;
    const Channels lower = load(t01) * gx + load(t11) * fx;
    const Channels result = upper * gy + lower * fy;
    std::memcpy(rgba, &result, sizeof(result));
}

// The rounding multiply of two 16-bit values, kept in 16 bits.
inline int16_t mulhrs(int16_t x, int16_t w) { return int16_t((int32_t(x) * int32_t(w) + (1 << 14)) >> 15); }

}  // namespace

void filterBgraAt(const TexelView& view, float u, float v, float rgba[4]) {
    float x = 0.0f;
    float y = 0.0f;
    if (!texelPosition(view, u, v, rgba, x, y)) return;
    const int32_t x0 = std::min(int32_t(x), view.width - 2);
    const int32_t y0 = std::min(int32_t(y), view.height - 2);
    const auto weight = [](float fraction) { return int16_t(std::min(std::nearbyint(fraction * 32768.0f), 32767.0f)); };
    const int16_t wx = weight(x - float(x0));
    const int16_t wy = weight(y - float(y0));
    const uint8_t* upper = view.bgra + size_t(y0) * view.rowBytes + size_t(x0) * 4;
    const uint8_t* lower = upper + view.rowBytes;
    const auto across = [wx](const uint8_t* pair, size_t byte) {
        const int16_t a = int16_t(pair[byte] << 7);
        const int16_t b = int16_t(pair[byte + 4] << 7);
        return int16_t(a + mulhrs(int16_t(b - a), wx));
    };
    constexpr float kScale = 1.0f / (255.0f * 128.0f);
    for (size_t c = 0; c < 4; ++c) {
        const int16_t top = across(upper, kBgraOrder[c]);
        const int16_t bottom = across(lower, kBgraOrder[c]);
        rgba[c] = float(int16_t(top + mulhrs(int16_t(bottom - top), wy))) * kScale;
    }
}

void TexelView::sample(float u, float v, float rgba[4]) const {
    const float coordinates[2] = {u, v};
    sampleSpan(coordinates, 2, 1, rgba);
}

void TexelView::sampleSpan(const float* coordinates, size_t stride, int32_t count, float* rgba) const {
    if (spanFilter) {
        spanFilter(*this, coordinates, stride, count, rgba);
        return;
    }
    if (bgra) {
        if (count >= 16 && avx512::supported()) {
            const int32_t done = avx512::filterBgraSpan(*this, coordinates, stride, count, rgba);
            coordinates += size_t(done) * stride;
            rgba += size_t(done) * 4;
            count -= done;
        }
        if (count >= 8 && avx2::supported()) {
            avx2::filterBgraSpan(*this, coordinates, stride, count, rgba);
            return;
        }
        for (int32_t i = 0; i < count; ++i, coordinates += stride, rgba += 4) {
            filterBgraAt(*this, coordinates[0], coordinates[1], rgba);
        }
        return;
    }
    if (count >= 8 && avx2::supported()) {
        avx2::filterSpan(*this, coordinates, stride, count, rgba);
        return;
    }
    for (int32_t i = 0; i < count; ++i, coordinates += stride, rgba += 4) filterAt(*this, coordinates[0], coordinates[1], rgba);
}

TexelView texelView(const MTLTexture& texture, std::vector<float>& staging) {
    TexelView view;
    view.width = int32_t(texture.width());
    view.height = int32_t(texture.height());
    if (texture.pixelFormat() == MTLPixelFormatRGBA32Float) {
        view.texels = reinterpret_cast<const float*>(texture.row(0));
        view.rowStride = texture.iosurface()->bytesPerRow() / sizeof(float);
        return view;
    }
    // 8-bit textures are filtered from their bytes, with 32-bit offsets.
    const size_t rowBytes = texture.iosurface()->bytesPerRow();
    if (texture.pixelFormat() == MTLPixelFormatBGRA8Unorm && view.width >= 2 && view.height >= 2 &&
        rowBytes * size_t(view.height) <= size_t(INT32_MAX)) {
        view.bgra = texture.row(0);
        view.rowBytes = rowBytes;
        return view;
    }
    view.rowStride = size_t(view.width) * 4;
    staging.resize(view.rowStride * size_t(view.height));
    const size_t rows = size_t(view.height);
    const size_t rowsPerPiece = rows * size_t(view.width) > 65536 ? std::max<size_t>(16384 / size_t(view.width), 1) : rows;
    kv::dispatch::concurrentPerform(rows, rowsPerPiece, [&](size_t begin, size_t end) {
        for (size_t y = begin; y < end; ++y) {
            loadTexels(texture.pixelFormat(), texture.row(NSUInteger(y)), size_t(view.width),
                       staging.data() + y * view.rowStride);
        }
    });
    view.texels = staging.data();
    return view;
}

}  // namespace kv::metal
