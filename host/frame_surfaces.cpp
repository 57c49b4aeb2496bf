#include "host/frame_surfaces.h"

#include "platform/iosurface/pixel_values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kv::host {
namespace {


// Surface channel order of each pixel: which RGBA channel goes at position i.
constexpr int kBGRAOrder[4] = {2, 1, 0, 3};

}  // namespace

std::shared_ptr<IOSurface> makeFrameSurface(const Frame& frame, OSType pixelFormat) {
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.rgba.size() < size_t(frame.width) * size_t(frame.height) * 4) {
        return nullptr;
    }
    auto surface = IOSurface::create(frame.width, frame.height, pixelFormat);
    if (!surface) return nullptr;
    surface->lockWithOptions(0, nullptr);
    for (int64_t y = 0; y < frame.height; ++y) {
        const float* source = frame.rgba.data() + size_t(y) * size_t(frame.width) * 4;
        uint8_t* row = surface->row(y);
        const size_t count = size_t(frame.width) * 4;
        if (pixelFormat == kCVPixelFormatType_128RGBAFloat) {
            std::memcpy(row, source, count * sizeof(float));
        } else if (pixelFormat == kCVPixelFormatType_64RGBAHalf) {
            for (size_t i = 0; i < count; ++i) {
                const uint16_t half = kv::halfFromFloat(source[i]);
                std::memcpy(row + i * 2, &half, 2);
            }
        } else {
            for (size_t i = 0; i < count; ++i) row[i] = kv::unormByte(source[i - i % 4 + size_t(kBGRAOrder[i % 4])]);
        }
    }
    surface->unlockWithOptions(0, nullptr);
    return surface;
}

Frame readFrameSurface(IOSurface& surface) {
    Frame frame{surface.width(), surface.height(), {}};
    const size_t count = size_t(frame.width) * 4;
    frame.rgba.resize(count * size_t(frame.height));
    surface.lockWithOptions(kIOSurfaceLockReadOnly, nullptr);
    for (int64_t y = 0; y < frame.height; ++y) {
        float* target = frame.rgba.data() + size_t(y) * count;
        const uint8_t* row = surface.row(y);
        if (surface.pixelFormat() == kCVPixelFormatType_128RGBAFloat) {
            std::memcpy(target, row, count * sizeof(float));
        } else if (surface.pixelFormat() == kCVPixelFormatType_64RGBAHalf) {
            for (size_t i = 0; i < count; ++i) {
                uint16_t half;
                std::memcpy(&half, row + i * 2, 2);
                target[i] = kv::floatFromHalf(half);
            }
        } else {
            for (size_t i = 0; i < count; ++i) target[i - i % 4 + size_t(kBGRAOrder[i % 4])] = float(row[i]) / 255.0f;
        }
    }
    surface.unlockWithOptions(kIOSurfaceLockReadOnly, nullptr);
    return frame;
}

std::shared_ptr<const FxImageTile> makeFullFrameTile(std::shared_ptr<IOSurface> surface, FxMatrix44 pixelTransform) {
    FxRect bounds;
    if (surface) bounds = FxRect{0, 0, int32_t(surface->width()), int32_t(surface->height())};
    return std::make_shared<const FxImageTile>(std::move(surface), bounds, bounds, kHostDeviceRegistryID,
                                               std::move(pixelTransform));
}

}  // namespace kv::host
