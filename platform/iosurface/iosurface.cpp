#include "platform/iosurface/iosurface.h"

#include <cstdlib>

namespace {

constexpr size_t kRowAlignment = 64;
// Larger than any frame a host hands over; keeps the size arithmetic exact.
constexpr int64_t kMaxDimension = 1 << 16;

}  // namespace

size_t IOSurface::bytesPerElementOf(OSType pixelFormat) {
    switch (pixelFormat) {
        case kCVPixelFormatType_128RGBAFloat: return 16;
        case kCVPixelFormatType_64RGBAHalf: return 8;
        case kCVPixelFormatType_32BGRA: return 4;
        default: return 0;
    }
}

std::shared_ptr<IOSurface> IOSurface::create(int64_t width, int64_t height, OSType pixelFormat, Contents contents) {
    const size_t element = bytesPerElementOf(pixelFormat);
    if (element == 0 || width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
        return nullptr;
    }
    const size_t packed = size_t(width) * element;
    const size_t bytesPerRow = (packed + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    const size_t size = bytesPerRow * size_t(height);  // a multiple of the alignment
    if (contents == Contents::uncleared) {
        void* memory = std::aligned_alloc(kRowAlignment, size);
        if (!memory) return nullptr;
        return std::shared_ptr<IOSurface>(new IOSurface(width, height, pixelFormat, element, bytesPerRow, memory, memory));
    }
    // Zeroed by the allocator, which need not clear a large block that comes
    // fresh from the system.
    void* allocation = std::calloc(size + kRowAlignment, 1);
    if (!allocation) return nullptr;
    const uintptr_t address = reinterpret_cast<uintptr_t>(allocation);
    void* memory = reinterpret_cast<void*>((address + kRowAlignment - 1) / kRowAlignment * kRowAlignment);
    return std::shared_ptr<IOSurface>(
        new IOSurface(width, height, pixelFormat, element, bytesPerRow, allocation, memory));
}

IOSurface::IOSurface(int64_t width, int64_t height, OSType pixelFormat, size_t bytesPerElement, size_t bytesPerRow,
                     void* allocation, void* memory)
    : width_(width),
      height_(height),
      pixelFormat_(pixelFormat),
      bytesPerElement_(bytesPerElement),
      bytesPerRow_(bytesPerRow),
      allocation_(allocation),
      memory_(memory) {}

IOSurface::~IOSurface() { std::free(allocation_); }

kern_return_t IOSurface::lockWithOptions(uint32_t options, uint32_t* seed) {
    std::lock_guard guard(lockMutex_);
    if (options & kIOSurfaceLockReadOnly) {
        ++readLocks_;
    } else {
        ++writeLocks_;
    }
    if (seed) *seed = seed_;
    return kIOReturnSuccess;
}

kern_return_t IOSurface::unlockWithOptions(uint32_t options, uint32_t* seed) {
    std::lock_guard guard(lockMutex_);
    int& locks = (options & kIOSurfaceLockReadOnly) ? readLocks_ : writeLocks_;
    if (locks == 0) return kIOReturnNotLocked;
    --locks;
    if (!(options & kIOSurfaceLockReadOnly)) ++seed_;
    if (seed) *seed = seed_;
    return kIOReturnSuccess;
}

bool IOSurface::isLocked() const {
    std::lock_guard guard(lockMutex_);
    return readLocks_ + writeLocks_ > 0;
}

uint32_t IOSurface::seed() const {
    std::lock_guard guard(lockMutex_);
    return seed_;
}
