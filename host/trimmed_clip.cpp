#include "host/trimmed_clip.h"

#include <cmath>
#include <string>

#include "platform/foundation/double_text.h"

namespace kv::host {
namespace {

// The number of frames of `clip` that begin before `seconds` after its start
// (all of them for a time past the end): a search over the frame times, so
// it holds for frames at any times and converts no seconds to a count.
int64_t framesBefore(const ClipSource& clip, double seconds) {
    const ClipFormat format = clip.format();
    const CMTime start = clip.timeRange().start;
    int64_t low = 0, high = format.frameCount;
    while (low < high) {
        const int64_t middle = low + (high - low) / 2;
        if (CMTimeGetSeconds(CMTimeSubtract(clip.frameTime(middle), start)) < seconds) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

}  // namespace

TrimmedClip::TrimmedClip(const ClipSource& clip, int64_t first, int64_t count)
    : clip_(&clip), first_(first), format_(clip.format()) {
    format_.startTime = clip.frameTime(first);
    format_.frameCount = count;
}

CMTimeRange TrimmedClip::timeRange() const {
    const int64_t end = first_ + format_.frameCount;
    const CMTime endTime = end < clip_->format().frameCount ? clip_->frameTime(end) : CMTimeRangeGetEnd(clip_->timeRange());
    return CMTimeRangeMake(format_.startTime, CMTimeSubtract(endTime, format_.startTime));
}

Result<TrimmedClip> TrimmedClip::make(const ClipSource& clip, double start, std::optional<double> duration) {
    const ClipFormat whole = clip.format();
    const CMTimeRange range = clip.timeRange();
    const double length = CMTimeGetSeconds(range.duration);
    if (!std::isfinite(start) || start < 0 || !(start < length)) {
        return Error{"The start " + doubleText(start) + " s lies outside the clip, which lasts " +
                     roundedText(length, 2) + " s."};
    }
    if (duration && !(std::isfinite(*duration) && *duration > 0)) {
        return Error{"The duration must be a positive number of seconds, not " + doubleText(*duration) + "."};
    }
    // A time a hair before a frame's start, from rounding, still counts as
    // reaching it: the tolerance is a billionth of a frame.
    const double hair = 1e-9 * CMTimeGetSeconds(whole.frameDuration);
    const int64_t first = framesBefore(clip, start + hair) - 1;
    if (first < 0) return Error{"The range holds no frame of the clip."};
    int64_t end = whole.frameCount;
    if (duration) {
        const double firstOffset = CMTimeGetSeconds(CMTimeSubtract(clip.frameTime(first), range.start));
        end = framesBefore(clip, firstOffset + *duration - hair);
    }
    const int64_t count = end - first;
    if (count <= 0) return Error{"The range holds no frame of the clip."};
    return TrimmedClip(clip, first, count);
}

}  // namespace kv::host
