#pragma once
// A part of a clip, as when the user trims a clip on the time line: frames
// [first, first + count) of the whole, at their own times in it.
#include <cstdint>
#include <optional>

#include "host/clip_source.h"
#include "platform/foundation/result.h"

namespace kv::host {

class TrimmedClip final : public ClipSource {
public:
    // The part of `clip` from the frame shown at `start` seconds (counted from
    // the clip's start) holding the frames that begin within `duration`
    // seconds of that frame, cut at the clip's end; the whole rest of the clip
    // when no duration is given. An error when the part holds no frame.
    static Result<TrimmedClip> make(const ClipSource& clip, double start, std::optional<double> duration);

    ClipFormat format() const override { return format_; }
    Frame frame(int64_t index) const override { return clip_->frame(first_ + index); }
    std::shared_ptr<IOSurface> frameSurface(int64_t index, OSType pixelFormat) const override {
        return clip_->frameSurface(first_ + index, pixelFormat);
    }
    CMTimeRange timeRange() const override;
    // The number in the whole clip of this part's first frame.
    int64_t firstIndex() const { return first_; }
    CMTime frameTime(int64_t index) const override { return clip_->frameTime(first_ + index); }
    Result<std::unique_ptr<FrameSequence>> frames(CMTimeRange range, OSType pixelFormat) const override {
        return clip_->frames(range, pixelFormat);
    }

private:
    TrimmedClip(const ClipSource& clip, int64_t first, int64_t count);

    const ClipSource* clip_;
    int64_t first_;
    ClipFormat format_;
};

}  // namespace kv::host
