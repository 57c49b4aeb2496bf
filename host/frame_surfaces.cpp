#include "host/frame_surfaces.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kv::host {
namespace {

uint8_t toByte(float value) {
    if (!(value >= 0.0f)) value = 0.0f;  // NaN too: no byte stands for it
    const float scaled = std::nearbyint(std::clamp(value, 0.0f, 1.0f) * 255.0f);
    return uint8_t(scaled);
}

// IEEE half floats, rounded to nearest even; NaN stays NaN.
uint16_t halfFromFloat(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    const uint32_t sign = (bits >> 16) & 0x8000u;
    const int32_t exponent = int32_t((bits >> 23) & 0xffu);
    uint32_t mantissa = bits & 0x7fffffu;
    if (exponent == 0xff) return uint16_t(sign | 0x7c00u | (mantissa ? 0x200u : 0u));
    const int32_t halfExponent = exponent - 127 + 15;
    if (halfExponent >= 0x1f) return uint16_t(sign | 0x7c00u);
    int shift = 13;
    uint32_t base = uint32_t(halfExponent) << 10;
    if (halfExponent <= 0) {  // below the normal range: a subnormal half, or zero
        if (halfExponent < -10) return uint16_t(sign);
        mantissa |= 0x800000u;
        shift = 14 - halfExponent;
        base = 0;
    }
    uint32_t half = base | (mantissa >> shift);
    const uint32_t rest = mantissa & ((1u << shift) - 1);
    const uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (half & 1u))) ++half;  // a carry rounds up the exponent
    return uint16_t(sign | half);
}

float floatFromHalf(uint16_t half) {
    const uint32_t sign = uint32_t(half & 0x8000u) << 16;
    const uint32_t exponent = (half >> 10) & 0x1fu;
    const uint32_t mantissa = half & 0x3ffu;
    float magnitude;
    if (exponent == 0) {
        magnitude = std::ldexp(float(mantissa), -24);
    } else if (exponent == 0x1f) {
        magnitude = mantissa ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
    } else {
        magnitude = std::ldexp(float(mantissa | 0x400u), int(exponent) - 25);
    }
    uint32_t bits;
    std::memcpy(&bits, &magnitude, 4);
    bits |= sign;
    std::memcpy(&magnitude, &bits, 4);
    return magnitude;
}

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
                const uint16_t half = halfFromFloat(source[i]);
                std::memcpy(row + i * 2, &half, 2);
            }
        } else {
            for (size_t i = 0; i < count; ++i) row[i] = toByte(source[i - i % 4 + size_t(kBGRAOrder[i % 4])]);
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
                target[i] = floatFromHalf(half);
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
