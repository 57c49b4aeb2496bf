#pragma once
// Where the host's frames come from: a clip of a fixed frame size and rate,
// its frames numbered from 0 at the clip's start time.
#include <cstdint>
#include <memory>

#include "host/frame_surfaces.h"
#include "platform/coremedia/cmtime.h"

namespace kv::host {

struct ClipFormat {
    int64_t width = 0;
    int64_t height = 0;
    int64_t frameCount = 0;
    CMTime frameDuration = CMTimeMake(1, 30);
    CMTime startTime = CMTimeMake(0, 30);
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
};

// The clip's time range: its start and frameCount frame durations.
CMTimeRange clipTimeRange(const ClipFormat& format);

// The number of the frame shown at `time`, or -1 when the time lies outside
// the clip.
int64_t clipFrameIndexAt(const ClipFormat& format, CMTime time);

}  // namespace kv::host
