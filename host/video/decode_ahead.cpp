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
// memory (always at least one picture, at most six).
constexpr size_t kAheadBytes = size_t(160) << 20;
constexpr size_t kMostAhead = 6;

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
        const size_t pictureBytes = std::max<size_t>(1, info.packedBytesPerRow() * size_t(info.height));
        depth_ = std::clamp<size_t>(kAheadBytes / pictureBytes, 1, kMostAhead);
        pool_ = SurfacePool::make(info.width, info.height, kCVPixelFormatType_128RGBAFloat, depth_ + 2);
        worker_ = std::thread([this] { work(); });
    }

    ~DecodeAheadFrames() override {
        {
            std::lock_guard guard(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        pool_->cancel();
        worker_.join();
    }

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
    void work() {
        try {
            decodeAll();
        } catch (const std::bad_alloc&) {
            finish(Error{"Out of memory while decoding the video."});
        }
    }

    void decodeAll() {
        if (auto set = decoder_->setTimeRange(range_); !set) return finish(set.error());
        // Decoding ahead takes three surfaces at least: one handed over, one
        // waiting, one decoded into. Without them the run cannot start, and
        // is better refused now than short of memory halfway.
        if (!pool_->reserve(3)) return finish(outOfMemory());
        for (;;) {
            std::shared_ptr<IOSurface> surface = pool_->take();
            if (!surface) return finish(stopping() ? std::nullopt : std::optional(outOfMemory()));
            auto time = decoding([&] {
                const IOSurfaceLock lock(*surface, IOSurfaceLock::Access::write);
                return decoder_->readFrame(static_cast<float*>(surface->baseAddress()), surface->bytesPerRow());
            });
            if (!time) return finish(time.error());
            if (!*time) break;
            const CMTime t = **time;
            // The frames placed before this picture that never came out.
            if (!giveAbsentBefore(CMTimeSubtract(t, halfFrame_))) return;
            if (next_ < expected_.size() && CMTimeCompare(expected_[next_], CMTimeAdd(t, halfFrame_)) <= 0) ++next_;
            if (pixelFormat_ != kCVPixelFormatType_128RGBAFloat) {
                surface = decoding([&] { return makeFrameSurface(readFrameSurface(*surface), pixelFormat_); });
            }
            lastGiven_ = t;
            if (!give(ClipFrame{t, std::move(surface)})) return;
        }
        if (!giveAbsentBefore(std::nullopt)) return;
        finish(std::nullopt);
    }

    Error outOfMemory() const {
        const VideoStreamInfo& info = decoder_->info();
        return Error{"Out of memory for video pictures of " + std::to_string(info.width) + "x" +
                     std::to_string(info.height) + " pixels."};
    }

    bool stopping() {
        std::lock_guard guard(mutex_);
        return stopping_;
    }

    // Hands over, without a picture, the expected frames before `limit`
    // (all that are left when there is none). False when told to stop.
    bool giveAbsentBefore(std::optional<CMTime> limit) {
        while (next_ < expected_.size() && (!limit || CMTimeCompare(expected_[next_], *limit) < 0)) {
            const CMTime t = expected_[next_++];
            if (lastGiven_ && CMTimeCompare(t, *lastGiven_) <= 0) continue;
            lastGiven_ = t;
            if (!give(ClipFrame{t, nullptr})) return false;
        }
        return true;
    }

    // Queues a frame once there is room; false when told to stop.
    bool give(ClipFrame frame) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ready_.size() < depth_ || stopping_; });
        if (stopping_) return false;
        ready_.push_back(std::move(frame));
        lock.unlock();
        changed_.notify_all();
        return true;
    }

    void finish(std::optional<Error> error) {
        {
            std::lock_guard guard(mutex_);
            error_ = std::move(error);
            finished_ = true;
        }
        changed_.notify_all();
    }

    // The worker's own.
    std::unique_ptr<VideoDecoder> decoder_;
    const CMTimeRange range_;
    const std::vector<CMTime> expected_;
    const CMTime halfFrame_;
    const OSType pixelFormat_;
    size_t depth_ = 1;
    std::shared_ptr<SurfacePool> pool_;
    size_t next_ = 0;  // the first expected frame not yet given
    std::optional<CMTime> lastGiven_;

    // Shared with the consumer, under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ClipFrame> ready_;
    bool finished_ = false;
    bool stopping_ = false;
    std::optional<Error> error_;

    std::thread worker_;
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
