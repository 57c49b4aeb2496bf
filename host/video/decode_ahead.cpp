#include "host/video/decode_ahead.h"

#include "host/surface_pool.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

namespace kv::host {
namespace {

// Decoded pictures waiting to be handed over take at most about this much
// memory (always at least one picture, at most three). More would only
// smooth out the consumer's pace, and each costs fresh memory to fault in.
constexpr size_t kAheadBytes = size_t(160) << 20;
constexpr size_t kMostAhead = 3;
// Threads converting pictures, each a frame of its own spread over the
// cores: with two, one frame's first bands start while the other's last
// ones finish.
constexpr size_t kConvertingThreads = 2;
// Decoded pictures waiting to be converted: one for each converting thread,
// while the next decodes.
constexpr size_t kDecodedWaiting = kConvertingThreads;

// 8-bit BGRA pictures are converted to straight from the decoder's; all
// others from RGBA floats.
PixelLayout layoutFor(OSType pixelFormat) {
    return pixelFormat == kCVPixelFormatType_32BGRA ? PixelLayout::bgraBytes : PixelLayout::rgbaFloat;
}
OSType surfaceFormatOf(PixelLayout layout) {
    return layout == PixelLayout::bgraBytes ? kCVPixelFormatType_32BGRA : kCVPixelFormatType_128RGBAFloat;
}

// Half a frame, the distance within which a decoded picture is the frame the
// file's packets placed at a time.
CMTime halfOf(CMTime step) {
    if (step.timescale <= INT32_MAX / 2) return CMTimeMake(step.value, step.timescale * 2);
    return CMTimeMake(step.value / 2, step.timescale);
}

class DecodeAheadFrames final : public FrameSequence {
public:
    DecodeAheadFrames(std::unique_ptr<VideoDecoder> decoder, CMTimeRange range, std::vector<CMTime> expected,
                      CMTime frameDuration, OSType pixelFormat)
        : decoder_(std::move(decoder)), range_(range), expected_(std::move(expected)),
          halfFrame_(halfOf(frameDuration)), pixelFormat_(pixelFormat) {
        const VideoStreamInfo& info = decoder_->info();
        const size_t pictureBytes =
            std::max<size_t>(1, bytesPerPixel(layout()) * size_t(info.width) * size_t(info.height));
        depth_ = std::clamp<size_t>(kAheadBytes / pictureBytes, 1, kMostAhead);
        pool_ = SurfacePool::make(info.width, info.height, surfaceFormatOf(layout()),
                                 depth_ + kConvertingThreads + 2);
        try {
            for (size_t t = 0; t < kConvertingThreads; ++t) {
                threads_.emplace_back([this] { guarded([this] { convertAll(); }); });
            }
            threads_.emplace_back([this] { guarded([this] { decodeAll(); }); });
        } catch (...) {
            stop();
            throw;
        }
    }

    ~DecodeAheadFrames() override { stop(); }

    int64_t count() const override { return int64_t(expected_.size()); }

    Result<std::optional<ClipFrame>> next() override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
        if (ready_.empty()) {
            if (error_) return *error_;
            return std::optional<ClipFrame>();
        }
        ClipFrame frame = std::move(ready_.front());
        ready_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return std::optional<ClipFrame>(std::move(frame));
    }

    // Waits until the first frame is decoded or the decoding failed.
    Result<void> waitForFirst() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
        if (ready_.empty() && error_) return *error_;
        return {};
    }

private:
    // A frame on its way from the decoder to the converter: its picture as
    // decoded, or none for a frame the file holds but that never came out.
    // The last one carries how the decoding ended instead.
    struct Decoded {
        size_t order = 0;
        CMTime time = kCMTimeInvalid;
        AVFramePtr picture;
        bool last = false;
        std::optional<Error> error;
    };

    template <class Work>
    void guarded(Work&& work) {
        try {
            work();
        } catch (const std::bad_alloc&) {
            finish(Error{"Out of memory while decoding the video."});
        }
    }

    // The decoding thread: only decodes, and hands the frames on in order.
    void decodeAll() {
        // Decoding ahead takes a surface for each converting thread and two
        // more: one handed over, one waiting. Without them the run cannot
        // start, and is better refused now than short of memory halfway.
        if (!pool_->reserve(kConvertingThreads + 2)) return end(outOfMemory());
        if (auto set = decoder_->setTimeRange(range_); !set) return end(set.error());
        for (;;) {
            auto picture = decoding([&] { return decoder_->decodePicture(); });
            if (!picture) return end(picture.error());
            if (!*picture) break;
            const CMTime t = (*picture)->time;
            // The frames placed before this picture that never came out.
            if (!passAbsentBefore(CMTimeSubtract(t, halfFrame_))) return;
            if (next_ < expected_.size() && CMTimeCompare(expected_[next_], CMTimeAdd(t, halfFrame_)) <= 0) ++next_;
            lastPassed_ = t;
            if (!pass(Decoded{0, t, std::move((*picture)->frame), false, std::nullopt})) return;
        }
        if (!passAbsentBefore(std::nullopt)) return;
        end(std::nullopt);
    }

    // Hands on the end of the frames, and the error that ended them.
    void end(std::optional<Error> error) { pass(Decoded{0, kCMTimeInvalid, nullptr, true, std::move(error)}); }

    // Hands on, without a picture, the expected frames before `limit` (all
    // that are left when there is none). False when told to stop.
    bool passAbsentBefore(std::optional<CMTime> limit) {
        while (next_ < expected_.size() && (!limit || CMTimeCompare(expected_[next_], *limit) < 0)) {
            const CMTime t = expected_[next_++];
            if (lastPassed_ && CMTimeCompare(t, *lastPassed_) <= 0) continue;
            lastPassed_ = t;
            if (!pass(Decoded{0, t, nullptr, false, std::nullopt})) return false;
        }
        return true;
    }

    // Queues a frame for the converters once there is room, numbered in
    // order; false when told to stop. Few wait: each holds one of the
    // decoder's pictures.
    bool pass(Decoded decoded) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return decoded_.size() < kDecodedWaiting || stopping_ || finished_; });
        if (stopping_ || finished_) return false;
        decoded.order = passed_++;
        decoded_.push_back(std::move(decoded));
        lock.unlock();
        changed_.notify_all();
        return true;
    }

    // A converting thread: each picture it takes converted, on every core,
    // straight onto the surface that is handed over, while the decoder goes
    // on with the next; the frames handed over in their order.
    void convertAll() {
        for (;;) {
            std::optional<Decoded> decoded = received();
            if (!decoded) return;  // told to stop, or the end was taken by another
            if (decoded->last) {
                finishInTurn(decoded->order, std::move(decoded->error));
                if (handedOnBefore(decoded->order)) releaseWhileTheLastAreTaken();
                return;
            }
            std::shared_ptr<IOSurface> surface;
            if (decoded->picture) {
                surface = pool_->take();
                if (!surface) {
                    return finishInTurn(decoded->order, stopping() ? std::nullopt : std::optional(outOfMemory()));
                }
                auto converted = decoding([&] {
                    const IOSurfaceLock lock(*surface, IOSurfaceLock::Access::write);
                    return decoder_->convert(DecodedPicture{decoded->time, std::move(decoded->picture)}, layout(),
                                             static_cast<std::byte*>(surface->baseAddress()), surface->bytesPerRow());
                });
                if (!converted) return finishInTurn(decoded->order, converted.error());
                if (pixelFormat_ != surfaceFormatOf(layout())) {
                    surface = decoding([&] { return makeFrameSurface(readFrameSurface(*surface), pixelFormat_); });
                }
            }
            if (!give(decoded->order, ClipFrame{decoded->time, std::move(surface)})) return;
        }
    }

    // The next frame from the decoder; empty when told to stop or finished.
    std::optional<Decoded> received() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !decoded_.empty() || stopping_ || finished_; });
        if (stopping_ || decoded_.empty()) return std::nullopt;
        Decoded decoded = std::move(decoded_.front());
        decoded_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return decoded;
    }

    // How the pictures are converted onto the pool's surfaces.
    PixelLayout layout() const { return layoutFor(pixelFormat_); }

    Error outOfMemory() const {
        const VideoStreamInfo& info = decoder_->info();
        return Error{"Out of memory for video pictures of " + std::to_string(info.width) + "x" +
                     std::to_string(info.height) + " pixels."};
    }

    bool stopping() {
        std::lock_guard guard(mutex_);
        return stopping_;
    }

    void stop() {
        {
            std::lock_guard guard(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        pool_->cancel();
        for (std::thread& thread : threads_) thread.join();
    }

    // Queues the frame numbered `order` for the consumer once those before
    // it are queued and there is room; false when told to stop or finished.
    bool give(size_t order, ClipFrame frame) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return (order == given_ && ready_.size() < depth_) || stopping_ || finished_; });
        if (stopping_ || finished_) return false;
        ready_.push_back(std::move(frame));
        ++given_;
        lock.unlock();
        changed_.notify_all();
        return true;
    }

    // Finishes once the frames before `order` are queued.
    void finishInTurn(size_t order, std::optional<Error> error) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return order == given_ || stopping_ || finished_; });
        }
        finish(std::move(error));
    }

    // Whether every frame before `order` was queued, each decoded and
    // converted: then the decoder is not used again, nor the pool taken from.
    bool handedOnBefore(size_t order) {
        std::lock_guard guard(mutex_);
        return order == given_;
    }

    // Once all is decoded and converted, the decoder and the pictures that
    // come back are let go of here, while the consumer takes the last frames,
    // rather than all at once when the sequence is destroyed.
    void releaseWhileTheLastAreTaken() {
        decoder_.reset();
        while (pool_->reclaim()) {
        }
    }

    void finish(std::optional<Error> error) {
        {
            std::lock_guard guard(mutex_);
            if (finished_) return;
            error_ = std::move(error);
            finished_ = true;
        }
        changed_.notify_all();
    }

    // Set up before the threads start, then read by all; the decoder
    // object's decoding is the decoding thread's, its conversions the
    // converting threads', and the converting thread that ends the
    // sequence in turn lets go of it.
    std::unique_ptr<VideoDecoder> decoder_;
    const CMTimeRange range_;
    const std::vector<CMTime> expected_;
    const CMTime halfFrame_;
    const OSType pixelFormat_;
    size_t depth_ = 1;
    std::shared_ptr<SurfacePool> pool_;
    // The decoding thread's own.
    size_t next_ = 0;  // the first expected frame not yet passed on
    std::optional<CMTime> lastPassed_;

    // Shared, under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Decoded> decoded_;
    size_t passed_ = 0;  // frames passed to the converters
    std::deque<ClipFrame> ready_;
    size_t given_ = 0;  // frames queued for the consumer
    bool finished_ = false;
    bool stopping_ = false;
    std::optional<Error> error_;

    std::vector<std::thread> threads_;
};

}  // namespace

Result<std::unique_ptr<FrameSequence>> decodeAhead(std::unique_ptr<VideoDecoder> decoder, CMTimeRange range,
                                                   std::vector<CMTime> expected, CMTime frameDuration,
                                                   OSType pixelFormat) {
    auto frames = std::make_unique<DecodeAheadFrames>(std::move(decoder), range, std::move(expected), frameDuration,
                                                      pixelFormat);
    if (auto ready = frames->waitForFirst(); !ready) return ready.error();
    return std::unique_ptr<FrameSequence>(std::move(frames));
}

}  // namespace kv::host
