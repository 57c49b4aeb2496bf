#include "host/clip_source.h"

#include <cmath>
#include <limits>

namespace kv::host {
namespace {

// More frames than any clip has; a range that asks for more is refused.
constexpr int64_t kMaxFrames = 100'000'000;

// Frames on the grid from the range's start, each written onto a new surface.
class GridFrames final : public FrameSequence {
public:
    GridFrames(const ClipSource& clip, CMTime start, int64_t count, OSType pixelFormat)
        : clip_(clip), format_(clip.format()), time_(start), count_(count), pixelFormat_(pixelFormat) {}

    int64_t count() const override { return count_; }

    Result<std::optional<ClipFrame>> next() override {
        if (given_ >= count_) return std::optional<ClipFrame>();
        ClipFrame frame{time_, nullptr};
        const int64_t index = clipFrameIndexAt(format_, time_);
        if (index >= 0) frame.surface = decoding([&] { return clip_.frameSurface(index, pixelFormat_); });
        ++given_;
        time_ = CMTimeAdd(time_, format_.frameDuration);
        return std::optional<ClipFrame>(std::move(frame));
    }

private:
    const ClipSource& clip_;
    ClipFormat format_;
    CMTime time_;
    int64_t count_;
    int64_t given_ = 0;
    OSType pixelFormat_;
};

}  // namespace

std::shared_ptr<IOSurface> ClipSource::frameSurface(int64_t index, OSType pixelFormat) const {
    return makeFrameSurface(frame(index), pixelFormat);
}

CMTimeRange ClipSource::timeRange() const { return clipTimeRange(format()); }

CMTime ClipSource::frameTime(int64_t index) const {
    const ClipFormat f = format();
    const CMTime step = f.frameDuration;
    int64_t offset = 0;
    if (__builtin_mul_overflow(index, step.value, &offset)) return kCMTimeInvalid;
    return CMTimeAdd(f.startTime, CMTimeMake(offset, step.timescale));
}

Result<std::unique_ptr<FrameSequence>> ClipSource::frames(CMTimeRange range, OSType pixelFormat) const {
    const std::optional<int64_t> count = wholeFramesIn(range.duration, format().frameDuration);
    if (!count) return Error{"The analysis range holds no whole number of frames."};
    return std::unique_ptr<FrameSequence>(new GridFrames(*this, range.start, *count, pixelFormat));
}

CMTimeRange clipTimeRange(const ClipFormat& format) {
    const CMTime step = format.frameDuration;
    const bool fits = format.frameCount >= 0 && step.value >= 0 &&
                      (step.value == 0 || format.frameCount <= std::numeric_limits<int64_t>::max() / step.value);
    const CMTime duration = fits ? CMTimeMake(format.frameCount * step.value, step.timescale) : kCMTimeInvalid;
    return CMTimeRangeMake(format.startTime, duration);
}

int64_t clipFrameIndexAt(const ClipFormat& format, CMTime time) {
    const double step = CMTimeGetSeconds(format.frameDuration);
    const double offset = CMTimeGetSeconds(CMTimeSubtract(time, format.startTime));
    if (!(step > 0) || !std::isfinite(offset)) return -1;
    // A time a hair before a frame's start, from rounding, still shows it.
    const double index = std::floor(offset / step + 1e-9);
    if (!(index >= 0 && index < double(format.frameCount))) return -1;
    return int64_t(index);
}

std::optional<int64_t> wholeFramesIn(CMTime duration, CMTime frameDuration) {
    if (!CMTimeIsNumeric(duration) || !CMTimeIsNumeric(frameDuration) || frameDuration.value <= 0 ||
        duration.value < 0) {
        return std::nullopt;
    }
    using Int128 = __int128;
    const Int128 num = Int128(duration.value) * frameDuration.timescale;
    const Int128 den = Int128(duration.timescale) * frameDuration.value;
    const Int128 frames = (num + den - 1) / den;
    if (frames > kMaxFrames) return std::nullopt;
    return static_cast<int64_t>(frames);
}

}  // namespace kv::host
