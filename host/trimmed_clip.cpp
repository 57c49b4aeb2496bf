#include "host/trimmed_clip.h"

#include <cmath>
#include <string>

#include "platform/foundation/double_text.h"

namespace kv::host {

TrimmedClip::TrimmedClip(const ClipSource& clip, int64_t first, int64_t count)
    : clip_(&clip), first_(first), format_(clip.format()) {
    const CMTime step = format_.frameDuration;
    format_.startTime = CMTimeAdd(format_.startTime, CMTimeMake(first * step.value, step.timescale));
    format_.frameCount = count;
}

Result<TrimmedClip> TrimmedClip::make(const ClipSource& clip, double start, std::optional<double> duration) {
    const ClipFormat whole = clip.format();
    const double step = CMTimeGetSeconds(whole.frameDuration);
    const double length = double(whole.frameCount) * step;
    if (!std::isfinite(start) || start < 0 || start >= length) {
        return Error{"The start " + doubleText(start) + " s lies outside the clip, which lasts " +
                     roundedText(length, 2) + " s."};
    }
    if (duration && !(std::isfinite(*duration) && *duration > 0)) {
        return Error{"The duration must be a positive number of seconds, not " + doubleText(*duration) + "."};
    }
    // A time a hair before a frame's start, from rounding, still shows it.
    const int64_t first = int64_t(std::floor(start / step + 1e-9));
    int64_t count = whole.frameCount - first;
    if (duration) count = std::min(count, int64_t(std::ceil(*duration / step - 1e-9)));
    if (count <= 0) return Error{"The range holds no frame of the clip."};
    return TrimmedClip(clip, first, count);
}

}  // namespace kv::host
