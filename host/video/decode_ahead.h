#pragma once
// The frames of a range of a video, decoded a few frames ahead of the one
// handed over: one thread only decodes, and others convert each picture from
// the decoder's planes straight onto the surface that is handed over while
// the next decodes (surfaces are reused once the effect lets go of them).
// Frames the file holds but that could not be decoded come without a
// surface, at their own times.
#include <memory>
#include <vector>

#include "host/clip_source.h"
#include "host/video/video_decoder.h"

namespace kv::host {

// `expected`: the times of the frames the file holds within `range`, in
// order. Waits for the first frame, so that an error in making ready (no
// memory for a picture) comes back here.
Result<std::unique_ptr<FrameSequence>> decodeAhead(std::unique_ptr<VideoDecoder> decoder, CMTimeRange range,
                                                   std::vector<CMTime> expected, CMTime frameDuration,
                                                   OSType pixelFormat);

}  // namespace kv::host
