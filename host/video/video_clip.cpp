#include "host/video/video_clip.h"

#include <climits>
#include <cmath>
#include <cstring>

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
            lookahead_ = readPicture();
            ended_ = !lookahead_;
        }
        if (!lookahead_ || CMTimeCompare(lookahead_->time, limit) >= 0) return;
        if (shown_) spare_ = std::move(shown_->rgba);
        shown_ = std::move(lookahead_);
        lookahead_.reset();
    }
}

std::optional<VideoFrame> VideoClip::readPicture() const {
    VideoFrame next;
    next.rgba = std::move(spare_);
    spare_.clear();
    next.rgba.resize(size_t(format_.width) * size_t(format_.height) * 4);
    auto time = decoder_->readFrame(next.rgba.data(), decoder_->info().packedBytesPerRow());
    if (!time || !*time) {
        if (!time && !error_) error_ = time.error();
        spare_ = std::move(next.rgba);
        return std::nullopt;
    }
    next.time = **time;
    return next;
}

const std::vector<float>* VideoClip::picture(int64_t index) const {
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
    return shown_ ? &shown_->rgba : nullptr;
}

Frame VideoClip::frame(int64_t index) const {
    Frame out{format_.width, format_.height, {}};
    if (const std::vector<float>* pixels = picture(index)) {
        out.rgba = *pixels;
    } else {
        // Nothing could be decoded at all: black, so the frame still has its size.
        out.rgba.assign(size_t(format_.width) * size_t(format_.height) * 4, 0.0f);
        for (size_t i = 3; i < out.rgba.size(); i += 4) out.rgba[i] = 1.0f;
    }
    return out;
}

std::shared_ptr<IOSurface> VideoClip::frameSurface(int64_t index, OSType pixelFormat) const {
    if (pixelFormat != kCVPixelFormatType_128RGBAFloat) return ClipSource::frameSurface(index, pixelFormat);
    const std::vector<float>* pixels = picture(index);
    if (!pixels) return makeFrameSurface(frame(index), pixelFormat);
    auto surface = IOSurface::create(format_.width, format_.height, pixelFormat);
    if (!surface) return nullptr;
    const size_t rowBytes = size_t(format_.width) * 4 * sizeof(float);
    surface->lockWithOptions(0, nullptr);
    for (int64_t y = 0; y < format_.height; ++y) {
        std::memcpy(surface->row(y), reinterpret_cast<const uint8_t*>(pixels->data()) + size_t(y) * rowBytes, rowBytes);
    }
    surface->unlockWithOptions(0, nullptr);
    return surface;
}

}  // namespace kv::host
