#include "platform/fxplug/fx_image_tile.h"

FxMatrix44::FxMatrix44() : matrix_{} {
    for (int i = 0; i < 4; ++i) matrix_[i][i] = 1.0;
}

FxMatrix44 FxMatrix44::scale(double sx, double sy) {
    FxMatrix44 m;
    m.matrix_[0][0] = sx;
    m.matrix_[1][1] = sy;
    return m;
}

std::shared_ptr<MTLTexture> FxImageTile::metalTextureForDevice(const std::shared_ptr<MTLDevice>& device) const {
    if (!device || !ioSurface_) return nullptr;
    MTLTextureDescriptor descriptor = MTLTextureDescriptor::texture2DDescriptor(
        kv::metal::textureFormatOfSurface(ioSurface_->pixelFormat()), NSUInteger(ioSurface_->width()),
        NSUInteger(ioSurface_->height()));
    descriptor.usage = MTLTextureUsageShaderRead | MTLTextureUsageRenderTarget;
    return device->newTextureWithDescriptor(descriptor, ioSurface_, 0);
}
