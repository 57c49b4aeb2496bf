#pragma once
// Where the host's frames come from: a clip of a fixed frame size and nominal
// rate, its frames numbered from 0 at the clip's start time. A clip made on a
// grid shows frame i at start + i frame durations; a video's frames lie at
// their own presentation times, which need not keep to its nominal rate.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "host/frame_surfaces.h"
#include "platform/coremedia/cmtime.h"
#include "platform/foundation/result.h"

namespace kv::host {

struct ClipFormat {
    int64_t width = 0;
    int64_t height = 0;
    int64_t frameCount = 0;
    CMTime frameDuration = CMTimeMake(1, 30);
    CMTime startTime = CMTimeMake(0, 30);
};

// One frame as the host hands it to the effect: its time, and its picture on
// a surface; no surface for a frame the host cannot give (a picture that
// could not be decoded, a time outside the clip).
struct ClipFrame {
    CMTime time = kCMTimeInvalid;
    std::shared_ptr<IOSurface> surface;
};

// The frames of a range, in time order, as a run hands them over.
class FrameSequence {
public:
    virtual ~FrameSequence() = default;
    // How many frames the sequence is expected to give.
    virtual int64_t count() const = 0;
    // The next frame; empty after the last; an error when the clip cannot
    // give any more (its file became unreadable, memory ran out).
    virtual Result<std::optional<ClipFrame>> next() = 0;

    // Seconds spent so far making the pictures (decoding and converting
    // them), on whichever thread that runs: where a run's time goes.
    double decodingSeconds() const { return decodingSeconds_.load(std::memory_order_relaxed); }

protected:
    // Runs `work`, counting its time as decoding; on any thread.
    template <class Work>
    auto decoding(Work&& work) {
        const auto begin = std::chrono::steady_clock::now();
        auto result = work();
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - begin;
        decodingSeconds_.fetch_add(spent.count(), std::memory_order_relaxed);
        return result;
    }

private:
    std::atomic<double> decodingSeconds_{0};
};

class ClipSource {
public:
    virtual ~ClipSource() = default;
    virtual ClipFormat format() const = 0;
    // Frame `index`, 0 <= index < frameCount.
    virtual Frame frame(int64_t index) const = 0;
    // Frame `index` on a new surface of `pixelFormat` (null when none can be
    // made), as the host hands it to the effect. Sources that hold their
    // pictures already may write them straight onto the surface.
    virtual std::shared_ptr<IOSurface> frameSurface(int64_t index, OSType pixelFormat) const;

    // From the first frame's time to the end of the last frame.
    virtual CMTimeRange timeRange() const;
    // The time of frame `index`; frameCount gives the end of the clip.
    virtual CMTime frameTime(int64_t index) const;
    // The frames a run over `range` hands over, in `pixelFormat`. On the
    // grid: one every frame duration from the range's start, without a
    // surface where the time lies outside the clip. An error when the range
    // holds no countable number of frames.
    virtual Result<std::unique_ptr<FrameSequence>> frames(CMTimeRange range, OSType pixelFormat) const;
};

// The clip's time range on the grid: its start and frameCount frame durations.
CMTimeRange clipTimeRange(const ClipFormat& format);

// The number of the grid frame shown at `time`, or -1 when the time lies
// outside the clip.
int64_t clipFrameIndexAt(const ClipFormat& format, CMTime time);

// The frames a host shows in a range on the grid: the exact ceiling of
// duration ÷ frame duration; empty when that is no sensible count.
std::optional<int64_t> wholeFramesIn(CMTime duration, CMTime frameDuration);

}  // namespace kv::host
