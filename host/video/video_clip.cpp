#include "host/video/video_clip.h"

#include <algorithm>
#include <climits>

#include "host/video/decode_ahead.h"

namespace kv::host {
namespace {

// The frame duration in the stream's own timescale when it fits exactly
// there, so that frame times count in the stream's ticks.
CMTime inTimescale(CMTime duration, int32_t timescale) {
    if (timescale <= 0 || duration.timescale <= 0) return duration;
    const __int128 scaled = __int128(duration.value) * timescale;
    if (scaled % duration.timescale != 0) return duration;
    return CMTimeMake(int64_t(scaled / duration.timescale), timescale);
}

bool before(CMTime a, CMTime b) { return CMTimeCompare(a, b) < 0; }

}  // namespace

VideoClip::VideoClip(std::filesystem::path path, std::unique_ptr<VideoDecoder> decoder, VideoFrameTimes times)
    : path_(std::move(path)), info_(decoder->info()), times_(std::move(times)), spare_(std::move(decoder)) {
    format_.width = info_.width;
    format_.height = info_.height;
    format_.frameDuration = inTimescale(info_.frameDuration, info_.timescale);
    format_.startTime = times_.times.front();
    format_.frameCount = int64_t(times_.times.size());
}

VideoClip::~VideoClip() = default;

Result<std::unique_ptr<VideoClip>> VideoClip::open(const std::filesystem::path& path,
                                                   const std::function<bool()>& stop) {
    auto decoder = VideoDecoder::open(path);
    if (!decoder) return decoder.error();
    const VideoStreamInfo& info = (*decoder)->info();
    if (!CMTimeIsNumeric(info.frameDuration) || info.frameDuration.value <= 0) {
        return Error{path.string() + " states no frame rate for its video."};
    }
    auto times = (*decoder)->indexFrames(stop);
    if (!times) return times.error();
    if (times->times.empty()) return Error{path.string() + " holds no frame of video."};
    return std::unique_ptr<VideoClip>(new VideoClip(path, std::move(decoder).value(), std::move(times).value()));
}

CMTimeRange VideoClip::timeRange() const {
    return CMTimeRangeMake(format_.startTime, CMTimeSubtract(times_.end, format_.startTime));
}

CMTime VideoClip::frameTime(int64_t index) const {
    if (index < 0) return kCMTimeInvalid;
    if (index >= format_.frameCount) return times_.end;
    return times_.times[size_t(index)];
}

CMTime VideoClip::statedEnd() const {
    CMTime end = times_.end;
    if (CMTimeIsNumeric(info_.duration)) {
        const CMTime stated = CMTimeAdd(info_.startTime, info_.duration);
        if (before(end, stated)) end = stated;
    }
    return end;
}

Result<std::unique_ptr<FrameSequence>> VideoClip::frames(CMTimeRange range, OSType pixelFormat) const {
    const CMTime end = CMTimeRangeGetEnd(range);
    const auto first = std::lower_bound(times_.times.begin(), times_.times.end(), range.start, before);
    const auto last = std::lower_bound(first, times_.times.end(), end, before);
    std::unique_ptr<VideoDecoder> decoder;
    {
        std::lock_guard guard(spareMutex_);
        decoder = std::move(spare_);
    }
    if (!decoder) {
        auto opened = VideoDecoder::open(path_);
        if (!opened) return opened.error();
        decoder = std::move(opened).value();
    }
    return decodeAhead(std::move(decoder), range, std::vector<CMTime>(first, last), format_.frameDuration,
                       pixelFormat);
}

std::shared_ptr<IOSurface> VideoClip::frameSurface(int64_t index, OSType pixelFormat) const {
    if (index < 0 || index >= format_.frameCount) return nullptr;
    // Back, far ahead, or in another format: a new sequence from the frame.
    constexpr int64_t kFarAhead = 64;
    if (!cursor_ || index < cursorNext_ || index > cursorNext_ + kFarAhead || pixelFormat != cursorFormat_) {
        cursorAhead_.reset();
        cursor_.reset();
        auto made = frames(CMTimeRangeMake(frameTime(index), CMTimeSubtract(times_.end, frameTime(index))),
                           pixelFormat);
        if (!made) return nullptr;
        cursor_ = std::move(made).value();
        cursorFormat_ = pixelFormat;
    }
    cursorNext_ = index + 1;
    const CMTime wanted = frameTime(index);
    for (;;) {
        if (!cursorAhead_) {
            auto next = cursor_->next();
            if (!next || !*next) return nullptr;
            cursorAhead_ = std::move(**next);
        }
        if (before(cursorAhead_->time, wanted)) {
            cursorAhead_.reset();
            continue;
        }
        if (CMTimeCompare(cursorAhead_->time, wanted) > 0) return nullptr;
        std::shared_ptr<IOSurface> surface = std::move(cursorAhead_->surface);
        cursorAhead_.reset();
        return surface;
    }
}

Frame VideoClip::frame(int64_t index) const {
    const std::shared_ptr<IOSurface> surface = frameSurface(index, kCVPixelFormatType_128RGBAFloat);
    if (!surface) return Frame{format_.width, format_.height, {}};
    return readFrameSurface(*surface);
}

}  // namespace kv::host
