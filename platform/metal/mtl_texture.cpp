#include "platform/metal/mtl_texture.h"

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

uint8_t unorm8(float value) {
    if (!(value > 0.0f)) return 0;  // NaN too
    if (value >= 1.0f) return 255;
    return uint8_t(std::nearbyint(value * 255.0f));
}

// Surface order of a BGRA texel: which RGBA channel sits at each byte.
constexpr int kBGRAChannel[4] = {2, 1, 0, 3};

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
    const size_t values = count * 4;
    if (pixelFormat == MTLPixelFormatRGBA32Float) {
        std::memcpy(rgba, stored, values * sizeof(float));
    } else if (pixelFormat == MTLPixelFormatRGBA16Float) {
        for (size_t i = 0; i < values; ++i) {
            _Float16 half;
            std::memcpy(&half, stored + i * 2, 2);
            rgba[i] = float(half);
        }
    } else if (pixelFormat == MTLPixelFormatBGRA8Unorm) {
        for (size_t p = 0; p < count; ++p) {
            for (int c = 0; c < 4; ++c) rgba[p * 4 + size_t(kBGRAChannel[c])] = float(stored[p * 4 + size_t(c)]) / 255.0f;
        }
    }
}

void storeTexels(MTLPixelFormat pixelFormat, const float* rgba, size_t count, uint8_t* stored) {
    const size_t values = count * 4;
    if (pixelFormat == MTLPixelFormatRGBA32Float) {
        std::memcpy(stored, rgba, values * sizeof(float));
    } else if (pixelFormat == MTLPixelFormatRGBA16Float) {
        for (size_t i = 0; i < values; ++i) {
            const _Float16 half = _Float16(rgba[i]);
            std::memcpy(stored + i * 2, &half, 2);
        }
    } else if (pixelFormat == MTLPixelFormatBGRA8Unorm) {
        for (size_t p = 0; p < count; ++p) {
            for (int c = 0; c < 4; ++c) stored[p * 4 + size_t(c)] = unorm8(rgba[p * 4 + size_t(kBGRAChannel[c])]);
        }
    }
}

void TexelView::sample(float u, float v, float rgba[4]) const {
    const float x = u * float(width) - 0.5f;
    const float y = v * float(height) - 0.5f;
    if (!(x > -1.0f && x < float(width) && y > -1.0f && y < float(height))) {
        rgba[0] = rgba[1] = rgba[2] = rgba[3] = 0.0f;
        return;
    }
    const float left = std::floor(x);
    const float top = std::floor(y);
    const float fx = x - left;
    const float fy = y - top;
    const int32_t x0 = int32_t(left);
    const int32_t y0 = int32_t(top);
    static constexpr float kBorder[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const auto tap = [&](int32_t tx, int32_t ty) -> const float* {
        if (tx < 0 || ty < 0 || tx >= width || ty >= height) return kBorder;
        return texels + size_t(ty) * rowStride + size_t(tx) * 4;
    };
    const float* t00 = tap(x0, y0);
    const float* t10 = tap(x0 + 1, y0);
    const float* t01 = tap(x0, y0 + 1);
    const float* t11 = tap(x0 + 1, y0 + 1);
    for (int c = 0; c < 4; ++c) {
        const float upper = t00[c] * (1.0f - fx) + t10[c] * fx;
        const float lower = t01[c] * (1.0f - fx) + t11[c] * fx;
        rgba[c] = upper * (1.0f - fy) + lower * fy;
    }
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
    view.rowStride = size_t(view.width) * 4;
    staging.resize(view.rowStride * size_t(view.height));
    const int64_t rows = view.height;
#ifdef _OPENMP
#pragma omp parallel for schedule(static) if (rows * view.width > 65536)
#endif
    for (int64_t y = 0; y < rows; ++y) {
        loadTexels(texture.pixelFormat(), texture.row(NSUInteger(y)), size_t(view.width),
                   staging.data() + size_t(y) * view.rowStride);
    }
    view.texels = staging.data();
    return view;
}

}  // namespace kv::metal
