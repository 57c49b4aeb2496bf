#include "host/program/undecoded_frames.h"

#include <algorithm>
#include <cmath>

#include "host/program/time_text.h"

namespace kv::host {
namespace {

// The frames the file's header promises after the end of what it holds, as
// far as the range asked for reaches: those of a file cut short.
int64_t framesPastTheData(const VideoClip& video, const ClipSource& range, std::optional<double> duration) {
    const CMTimeRange held = video.timeRange();
    const CMTimeRange asked = range.timeRange();
    if (CMTimeCompare(CMTimeRangeGetEnd(asked), CMTimeRangeGetEnd(held)) < 0) return 0;
    double end = CMTimeGetSeconds(video.statedEnd());
    if (duration) end = std::min(end, CMTimeGetSeconds(asked.start) + *duration);
    const double missing = end - CMTimeGetSeconds(CMTimeRangeGetEnd(held));
    const double step = CMTimeGetSeconds(video.format().frameDuration);
    const double frames = std::ceil(missing / step - 1e-9);
    // Checked before it becomes a count: the header's numbers may be anything.
    if (!(frames > 0)) return 0;
    return frames < 1e15 ? int64_t(frames) : int64_t(1e15);
}

}  // namespace

std::string UndecodedFrames::text() const {
    std::string lack = std::to_string(count()) + " of the range's " + std::to_string(expected) +
                       " frames could not be decoded";
    if (pastTheData > 0) lack += " (the file's data ends at " + secondsText(dataEnd) + ")";
    return lack;
}

UndecodedFrames countUndecodedFrames(const VideoClip* video, const ClipSource& range,
                                     std::optional<double> duration, int64_t handed, int64_t withoutPicture) {
    UndecodedFrames frames;
    frames.withoutPicture = withoutPicture;
    frames.pastTheData = video ? framesPastTheData(*video, range, duration) : 0;
    frames.expected = handed + frames.pastTheData;
    if (video) frames.dataEnd = CMTimeRangeGetEnd(video->timeRange());
    return frames;
}

}  // namespace kv::host
