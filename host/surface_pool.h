#pragma once
// Surfaces of one size and pixel format, reused: a surface handed out comes
// back to the pool when its last holder lets go of it, so that a run of
// frames writes into memory that is already mapped rather than faulting in
// fresh pages for every frame. Short of memory, the pool waits for a surface
// to come back rather than fail while any is out.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/iosurface/iosurface.h"

namespace kv::host {

class SurfacePool : public std::enable_shared_from_this<SurfacePool> {
public:
    // Keeps at most `keep` surfaces that have come back. A new surface's
    // memory is as `contents` says; one taken again holds what its last
    // holder left: for surfaces whose pixels are all written before they are read.
    static std::shared_ptr<SurfacePool> make(int64_t width, int64_t height, OSType pixelFormat, size_t keep,
                                             IOSurface::Contents contents = IOSurface::Contents::zeroed);

    bool fits(int64_t width, int64_t height, OSType pixelFormat) const {
        return width == width_ && height == height_ && pixelFormat == pixelFormat_;
    }

    // Makes `count` surfaces ready; false when there is no memory for them.
    bool reserve(size_t count);

    // Null when there is no memory for a surface and none is out to come
    // back, or once cancelled.
    std::shared_ptr<IOSurface> take();

    // A surface that has come back, taken out of the pool for its memory to
    // be let go of by the caller, once the pool will not be taken from
    // again; waits for one. Null once cancelled.
    std::shared_ptr<IOSurface> reclaim();

    // Ends every wait in take() and reclaim(), and every call of them after.
    void cancel();

    SurfacePool(int64_t width, int64_t height, OSType pixelFormat, size_t keep, IOSurface::Contents contents)
        : width_(width), height_(height), pixelFormat_(pixelFormat), keep_(keep), contents_(contents) {}

private:
    std::shared_ptr<IOSurface> makeSurface() const;
    void giveBack(std::shared_ptr<IOSurface> surface);

    const int64_t width_;
    const int64_t height_;
    const OSType pixelFormat_;
    const size_t keep_;
    const IOSurface::Contents contents_;
    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<std::shared_ptr<IOSurface>> free_;
    size_t out_ = 0;
    bool cancelled_ = false;
};

}  // namespace kv::host
