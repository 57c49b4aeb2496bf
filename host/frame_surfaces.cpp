#include "host/frame_surfaces.h"

#include "platform/iosurface/pixel_rows.h"

namespace kv::host {

std::shared_ptr<IOSurface> makeFrameSurface(const Frame& frame, OSType pixelFormat) {
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.rgba.size() < size_t(frame.width) * size_t(frame.height) * 4) {
        return nullptr;
    }
    auto surface = IOSurface::create(frame.width, frame.height, pixelFormat);
    if (!surface) return nullptr;
    const IOSurfaceLock lock(*surface, IOSurfaceLock::Access::write);
    for (int64_t y = 0; y < frame.height; ++y) {
        storePixelRow(pixelFormat, frame.rgba.data() + size_t(y) * size_t(frame.width) * 4, size_t(frame.width),
                      surface->row(y));
    }
    return surface;
}

Frame readFrameSurface(IOSurface& surface) {
    Frame frame{surface.width(), surface.height(), {}};
    const size_t count = size_t(frame.width) * 4;
    frame.rgba.resize(count * size_t(frame.height));
    const IOSurfaceLock lock(surface, IOSurfaceLock::Access::read);
    for (int64_t y = 0; y < frame.height; ++y) {
        loadPixelRow(surface.pixelFormat(), surface.row(y), size_t(frame.width), frame.rgba.data() + size_t(y) * count);
    }
    return frame;
}

std::shared_ptr<const FxImageTile> makeFullFrameTile(std::shared_ptr<IOSurface> surface, FxMatrix44 pixelTransform) {
    FxRect bounds;
    if (surface) bounds = FxRect{0, 0, int32_t(surface->width()), int32_t(surface->height())};
    return std::make_shared<const FxImageTile>(std::move(surface), bounds, bounds, kHostDeviceRegistryID,
                                               std::move(pixelTransform));
}

}  // namespace kv::host
