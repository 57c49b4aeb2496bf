#pragma once
// A pixel surface, as the platform's surface framework shares frames between
// the host and the effect: width × height pixels of one four-character pixel
// format, rows padded to a multiple of 64 bytes, memory reached through the
// base address while the surface is locked.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

using OSType = uint32_t;
using kern_return_t = int32_t;

constexpr OSType fourCharCode(const char (&code)[5]) {
    return (OSType(uint8_t(code[0])) << 24) | (OSType(uint8_t(code[1])) << 16) | (OSType(uint8_t(code[2])) << 8) |
           OSType(uint8_t(code[3]));
}

// Four 32-bit floats a pixel: red, green, blue, alpha.
inline constexpr OSType kCVPixelFormatType_128RGBAFloat = fourCharCode("RGfA");
// Four 8-bit values a pixel: blue, green, red, alpha.
inline constexpr OSType kCVPixelFormatType_32BGRA = fourCharCode("BGRA");
// Four 16-bit half floats a pixel: red, green, blue, alpha.
inline constexpr OSType kCVPixelFormatType_64RGBAHalf = fourCharCode("RGhA");

enum : uint32_t {
    kIOSurfaceLockReadOnly = 1u << 0,
    kIOSurfaceLockAvoidSync = 1u << 1,
};

inline constexpr kern_return_t kIOReturnSuccess = 0;
inline constexpr kern_return_t kIOReturnNotLocked = int32_t(0xe00002cc);

class IOSurface {
public:
    // Bytes of one pixel of the format; 0 for a format no surface is made in.
    static size_t bytesPerElementOf(OSType pixelFormat);

    // Whether a new surface's memory is zero-filled, or left as the allocator
    // gives it, for a surface whose every pixel is written before it is read.
    enum class Contents { zeroed, uncleared };

    // A new surface, or null when the format is unknown or the size is empty
    // or too large to allocate.
    static std::shared_ptr<IOSurface> create(int64_t width, int64_t height, OSType pixelFormat,
                                             Contents contents = Contents::zeroed);

    ~IOSurface();
    IOSurface(const IOSurface&) = delete;
    IOSurface& operator=(const IOSurface&) = delete;

    int64_t width() const { return width_; }
    int64_t height() const { return height_; }
    OSType pixelFormat() const { return pixelFormat_; }
    size_t bytesPerElement() const { return bytesPerElement_; }
    size_t bytesPerRow() const { return bytesPerRow_; }
    size_t allocationSize() const { return bytesPerRow_ * size_t(height_); }

    // Locks may nest; a read-only lock is undone by a read-only unlock. The
    // seed counts the unlocks of write locks, so readers can tell a change.
    kern_return_t lockWithOptions(uint32_t options, uint32_t* seed);
    kern_return_t unlockWithOptions(uint32_t options, uint32_t* seed);
    bool isLocked() const;
    uint32_t seed() const;

    // The first byte of the first row; valid for the life of the surface.
    void* baseAddress() const { return memory_; }
    uint8_t* row(int64_t y) const { return static_cast<uint8_t*>(memory_) + size_t(y) * bytesPerRow_; }

private:
    IOSurface(int64_t width, int64_t height, OSType pixelFormat, size_t bytesPerElement, size_t bytesPerRow,
              void* allocation, void* memory);

    int64_t width_;
    int64_t height_;
    OSType pixelFormat_;
    size_t bytesPerElement_;
    size_t bytesPerRow_;
    void* allocation_;  // what the allocator gave; memory_ is its first 64-byte boundary
    void* memory_;

    mutable std::mutex lockMutex_;
    int readLocks_ = 0;
    int writeLocks_ = 0;
    uint32_t seed_ = 0;
};

// A lock on a surface for as long as the object lives: read-only or for
// writing, undone by the matching unlock.
class IOSurfaceLock {
public:
    enum class Access { read, write };
    IOSurfaceLock(IOSurface& surface, Access access)
        : surface_(surface), options_(access == Access::read ? uint32_t(kIOSurfaceLockReadOnly) : 0u) {
        surface_.lockWithOptions(options_, nullptr);
    }
    ~IOSurfaceLock() { surface_.unlockWithOptions(options_, nullptr); }
    IOSurfaceLock(const IOSurfaceLock&) = delete;
    IOSurfaceLock& operator=(const IOSurfaceLock&) = delete;

private:
    IOSurface& surface_;
    uint32_t options_;
};
