#pragma once
// The frames of a range that could not be decoded, counted the same way by
// every command that reads a video: those the file holds without a picture,
// and those its header promises after the point where a file cut short ends.
// When they are most of the range, the command fails.
#include <cstdint>
#include <optional>
#include <string>

#include "host/clip_source.h"
#include "host/video/video_clip.h"

namespace kv::host {

struct UndecodedFrames {
    int64_t withoutPicture = 0;
    int64_t pastTheData = 0;
    // The range's frames, those past the data included.
    int64_t expected = 0;
    // Where the file's data ends; used when frames lie past it.
    CMTime dataEnd = kCMTimeInvalid;

    int64_t count() const { return withoutPicture + pastTheData; }
    bool mostOfTheRange() const { return count() * 2 > expected; }
    // "3 of the range's 90 frames could not be decoded (the file's data ends at 2.00 s)"
    std::string text() const;
};

// `handed` frames of `range` (a part of `video`, or of a clip that is no
// video file when `video` is null) were read, `withoutPicture` of them
// without a picture; `duration` is the length in seconds asked for, if any.
UndecodedFrames countUndecodedFrames(const VideoClip* video, const ClipSource& range,
                                     std::optional<double> duration, int64_t handed, int64_t withoutPicture);

}  // namespace kv::host
