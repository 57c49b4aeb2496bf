#include "host/surface_pool.h"

#include <new>

namespace kv::host {

std::shared_ptr<SurfacePool> SurfacePool::make(int64_t width, int64_t height, OSType pixelFormat, size_t keep,
                                               IOSurface::Contents contents) {
    return std::make_shared<SurfacePool>(width, height, pixelFormat, keep, contents);
}

bool SurfacePool::reserve(size_t count) {
    std::lock_guard guard(mutex_);
    while (free_.size() < count) {
        auto surface = makeSurface();
        if (!surface) return false;
        free_.push_back(std::move(surface));
    }
    return true;
}

std::shared_ptr<IOSurface> SurfacePool::take() {
    std::unique_lock lock(mutex_);
    std::shared_ptr<IOSurface> surface;
    for (;;) {
        if (cancelled_) return nullptr;
        if (!free_.empty()) {
            surface = std::move(free_.back());
            free_.pop_back();
            break;
        }
        surface = makeSurface();
        if (surface || out_ == 0) break;
        returned_.wait(lock);
    }
    if (!surface) return nullptr;
    ++out_;
    lock.unlock();
    try {
        IOSurface* raw = surface.get();
        return std::shared_ptr<IOSurface>(raw, [pool = shared_from_this(), surface](IOSurface*) mutable {
            pool->giveBack(std::move(surface));
        });
    } catch (const std::bad_alloc&) {
        giveBack(std::move(surface));
        return nullptr;
    }
}

std::shared_ptr<IOSurface> SurfacePool::reclaim() {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [this] { return cancelled_ || !free_.empty(); });
    if (cancelled_) return nullptr;
    std::shared_ptr<IOSurface> surface = std::move(free_.back());
    free_.pop_back();
    return surface;
}

void SurfacePool::cancel() {
    {
        std::lock_guard guard(mutex_);
        cancelled_ = true;
    }
    returned_.notify_all();
}

std::shared_ptr<IOSurface> SurfacePool::makeSurface() const {
    try {
        return IOSurface::create(width_, height_, pixelFormat_, contents_);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void SurfacePool::giveBack(std::shared_ptr<IOSurface> surface) {
    {
        std::lock_guard guard(mutex_);
        --out_;
        if (free_.size() < keep_) free_.push_back(std::move(surface));
    }
    returned_.notify_all();
}

}  // namespace kv::host
