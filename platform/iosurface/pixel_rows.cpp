#include "platform/iosurface/pixel_rows.h"

#include <cstring>

#include "platform/iosurface/pixel_values.h"

namespace kv {

void loadPixelRow(OSType pixelFormat, const uint8_t* stored, size_t count, float* rgba) {
    const size_t values = count * 4;
    if (pixelFormat == kCVPixelFormatType_128RGBAFloat) {
        std::memcpy(rgba, stored, values * sizeof(float));
    } else if (pixelFormat == kCVPixelFormatType_64RGBAHalf) {
        for (size_t i = 0; i < values; ++i) {
            uint16_t half;
            std::memcpy(&half, stored + i * 2, 2);
            rgba[i] = floatFromHalf(half);
        }
    } else if (pixelFormat == kCVPixelFormatType_32BGRA) {
        for (size_t p = 0; p < count; ++p) {
            for (size_t c = 0; c < 4; ++c) rgba[p * 4 + kBgraOrder[c]] = float(stored[p * 4 + c]) / 255.0f;
        }
    }
}

void storePixelRow(OSType pixelFormat, const float* rgba, size_t count, uint8_t* stored) {
    const size_t values = count * 4;
    if (pixelFormat == kCVPixelFormatType_128RGBAFloat) {
        std::memcpy(stored, rgba, values * sizeof(float));
    } else if (pixelFormat == kCVPixelFormatType_64RGBAHalf) {
        for (size_t i = 0; i < values; ++i) {
            const uint16_t half = halfFromFloat(rgba[i]);
            std::memcpy(stored + i * 2, &half, 2);
        }
    } else if (pixelFormat == kCVPixelFormatType_32BGRA) {
        for (size_t p = 0; p < count; ++p) {
            for (size_t c = 0; c < 4; ++c) stored[p * 4 + c] = unormByte(rgba[p * 4 + kBgraOrder[c]]);
        }
    }
}

}  // namespace kv
