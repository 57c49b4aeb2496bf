#pragma once
// Frames on pixel surfaces, as the host hands them to the effect: a frame of
// packed RGBA floats written into a surface of any supported format (rows at
// the surface's stride), read back the same way, and image tiles that cover a
// whole surface.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/fxplug/fx_image_tile.h"
#include "platform/iosurface/iosurface.h"

namespace kv::host {

// The GPU the stand-in host places every image on.
inline constexpr uint64_t kHostDeviceRegistryID = kSoftwareGPURegistryID;

// Packed frames: width × height pixels of red, green, blue, alpha floats.
struct Frame {
    int64_t width = 0;
    int64_t height = 0;
    std::vector<float> rgba;
};

// A new surface holding the frame in `pixelFormat` (8-bit values rounded and
// clamped to 0...255, half floats rounded to nearest); null when no surface
// of that format and size can be made or the frame's data is short.
std::shared_ptr<IOSurface> makeFrameSurface(const Frame& frame, OSType pixelFormat);

// The surface's pixels as a packed frame.
Frame readFrameSurface(IOSurface& surface);

// A tile that is the whole image held by the surface.
std::shared_ptr<const FxImageTile> makeFullFrameTile(std::shared_ptr<IOSurface> surface,
                                                     FxMatrix44 pixelTransform = FxMatrix44());

}  // namespace kv::host
