#include "host/video/video_clip.h"

#include <climits>
#include <cmath>

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

}  // namespace

VideoClip::VideoClip(std::unique_ptr<VideoDecoder> decoder, ClipFormat format)
    : decoder_(std::move(decoder)), format_(format) {
    const CMTime step = format_.frameDuration;
    halfFrame_ = step.timescale <= INT32_MAX / 2 ? CMTimeMake(step.value, step.timescale * 2)
                                                  : CMTimeMakeWithSeconds(CMTimeGetSeconds(step) / 2, step.timescale);
}

Result<std::unique_ptr<VideoClip>> VideoClip::open(const std::filesystem::path& path) {
    auto decoder = VideoDecoder::open(path);
    if (!decoder) return decoder.error();
    const VideoStreamInfo& info = (*decoder)->info();
    if (!CMTimeIsNumeric(info.frameDuration) || info.frameDuration.value <= 0) {
        return Error{path.string() + " states no frame rate for its video."};
    }
    ClipFormat format;
    format.width = info.width;
    format.height = info.height;
    format.frameDuration = inTimescale(info.frameDuration, info.timescale);
    format.startTime = info.startTime;
    if (info.frameCount) {
        format.frameCount = *info.frameCount;
    } else if (CMTimeIsNumeric(info.duration)) {
        const double frames = std::ceil(CMTimeGetSeconds(info.duration) / CMTimeGetSeconds(format.frameDuration));
        if (frames >= 1 && frames < 1e9) format.frameCount = int64_t(frames);
    }
    if (format.frameCount <= 0) return Error{path.string() + " states no length for its video."};
    return std::unique_ptr<VideoClip>(new VideoClip(std::move(decoder).value(), format));
}

void VideoClip::restartAt(CMTime time) const {
    shown_.reset();
    lookahead_.reset();
    ended_ = false;
    // From a frame before the time, so that a picture a little early for it is read.
    const CMTime from = CMTimeSubtract(time, format_.frameDuration);
    if (auto set = decoder_->setTimeRange(CMTimeRangeMake(from, kCMTimePositiveInfinity)); !set) {
        if (!error_) error_ = set.error();
        ended_ = true;
    }
}

void VideoClip::advanceTo(CMTime limit) const {
    for (;;) {
        if (!lookahead_ && !ended_) {
            auto next = decoder_->readFrame();
            if (!next) {
                if (!error_) error_ = next.error();
                ended_ = true;
            } else if (!*next) {
                ended_ = true;
            } else {
                lookahead_ = std::move(*next);
            }
        }
        if (!lookahead_ || CMTimeCompare(lookahead_->time, limit) >= 0) return;
        shown_ = std::move(lookahead_);
        lookahead_.reset();
    }
}

Frame VideoClip::frame(int64_t index) const {
    const CMTime time =
        CMTimeAdd(format_.startTime, CMTimeMake(index * format_.frameDuration.value, format_.frameDuration.timescale));
    // Back, or far ahead: seek rather than decode every picture between.
    constexpr int64_t kFarAhead = 64;
    const bool seek = lastIndex_ ? index < *lastIndex_ || index > *lastIndex_ + kFarAhead : index > 0;
    if (seek && !error_) restartAt(time);
    const std::optional<CMTime> before = shown_ ? std::optional(shown_->time) : std::nullopt;
    advanceTo(CMTimeAdd(time, halfFrame_));
    if (!shown_ && lookahead_) {
        // A frame asked for before the first picture shows the first picture.
        shown_ = std::move(lookahead_);
        lookahead_.reset();
    }
    const bool sameAsBefore = before && shown_ && CMTimeCompare(shown_->time, *before) == 0;
    if (lastIndex_ && index > *lastIndex_ && sameAsBefore) ++repeated_;
    lastIndex_ = index;

    Frame out{format_.width, format_.height, {}};
    if (shown_) {
        out.rgba = shown_->rgba;
    } else {
        // Nothing could be decoded at all: black, so the frame still has its size.
        out.rgba.assign(size_t(format_.width) * size_t(format_.height) * 4, 0.0f);
        for (size_t i = 3; i < out.rgba.size(); i += 4) out.rgba[i] = 1.0f;
    }
    return out;
}

}  // namespace kv::host
