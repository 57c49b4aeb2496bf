#include "host/clip_source.h"

#include <cmath>
#include <limits>

namespace kv::host {

std::shared_ptr<IOSurface> ClipSource::frameSurface(int64_t index, OSType pixelFormat) const {
    return makeFrameSurface(frame(index), pixelFormat);
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
    if (index < 0 || index >= double(format.frameCount)) return -1;
    return int64_t(index);
}

}  // namespace kv::host
