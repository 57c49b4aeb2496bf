#pragma once
// An image, or one tile of it, as the host hands it to the effect: the pixel
// surface that holds it, where the whole image and this tile lie in pixels,
// the GPU that holds it and the transform from image pixels to the host's
// canvas.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/iosurface/iosurface.h"
#include "platform/metal/mtl_device.h"

// A pixel rectangle: left and bottom inclusive, right and top exclusive.
struct FxRect {
    int32_t left = 0;
    int32_t bottom = 0;
    int32_t right = 0;
    int32_t top = 0;

    friend bool operator==(const FxRect&, const FxRect&) = default;
};

// A 4 × 4 transform, row by row.
class FxMatrix44 {
public:
    using Matrix = std::array<std::array<double, 4>, 4>;

    FxMatrix44();  // identity
    explicit FxMatrix44(const Matrix& matrix) : matrix_(matrix) {}
    static FxMatrix44 scale(double sx, double sy);

    const Matrix& matrix() const { return matrix_; }

    friend bool operator==(const FxMatrix44&, const FxMatrix44&) = default;

private:
    Matrix matrix_;
};

class FxImageTile {
public:
    FxImageTile(std::shared_ptr<IOSurface> ioSurface, FxRect imagePixelBounds, FxRect tilePixelBounds,
                uint64_t deviceRegistryID, std::optional<FxMatrix44> pixelTransform)
        : ioSurface_(std::move(ioSurface)),
          imagePixelBounds_(imagePixelBounds),
          tilePixelBounds_(tilePixelBounds),
          deviceRegistryID_(deviceRegistryID),
          pixelTransform_(std::move(pixelTransform)) {}

    // May be null: a tile without a surface.
    const std::shared_ptr<IOSurface>& ioSurface() const { return ioSurface_; }
    FxRect imagePixelBounds() const { return imagePixelBounds_; }
    FxRect tilePixelBounds() const { return tilePixelBounds_; }
    uint64_t deviceRegistryID() const { return deviceRegistryID_; }
    const std::optional<FxMatrix44>& pixelTransform() const { return pixelTransform_; }
    // The tile's surface as a texture of `device`, for reading and as a
    // render target; null without a device or a surface.
    std::shared_ptr<MTLTexture> metalTextureForDevice(const std::shared_ptr<MTLDevice>& device) const;

private:
    std::shared_ptr<IOSurface> ioSurface_;
    FxRect imagePixelBounds_;
    FxRect tilePixelBounds_;
    uint64_t deviceRegistryID_;
    std::optional<FxMatrix44> pixelTransform_;
};
