#pragma once
// A video file as the host's clip, decoded with FFmpeg. Its frames are the
// pictures the file holds, each at its own presentation time (a variable
// frame rate keeps its own times); its frame duration is the stream's nominal
// one. A file cut short holds only the frames before the cut. A frame whose
// picture cannot be decoded is handed over without a picture, never as a
// copy of another one.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "host/clip_source.h"
#include "host/video/video_decoder.h"
#include "platform/foundation/result.h"

namespace kv::host {

class VideoClip final : public ClipSource {
public:
    // The clip of the video file at `path`; an error when it cannot be
    // decoded, states no frame rate or holds no frame. Opening reads the
    // file's packets once (see VideoDecoder::indexFrames); `stop` may end that.
    static Result<std::unique_ptr<VideoClip>> open(const std::filesystem::path& path,
                                                   const std::function<bool()>& stop = {});
    ~VideoClip() override;

    ClipFormat format() const override { return format_; }
    CMTimeRange timeRange() const override;
    CMTime frameTime(int64_t index) const override;
    // The picture of frame `index`; no pixels when it cannot be decoded.
    // Frames are best asked for in increasing order: an earlier frame, or one
    // far ahead, makes the decoder seek.
    Frame frame(int64_t index) const override;
    // Null also when the picture cannot be decoded.
    std::shared_ptr<IOSurface> frameSurface(int64_t index, OSType pixelFormat) const override;
    // The frames the file holds in `range`, decoded ahead on a thread of
    // their own straight onto the surfaces handed over.
    Result<std::unique_ptr<FrameSequence>> frames(CMTimeRange range, OSType pixelFormat) const override;

    const VideoStreamInfo& info() const { return info_; }
    // Where the file's header says the video ends: past timeRange()'s end
    // when the file was cut short.
    CMTime statedEnd() const;

private:
    VideoClip(std::filesystem::path path, std::unique_ptr<VideoDecoder> decoder, VideoFrameTimes times);

    std::filesystem::path path_;
    VideoStreamInfo info_;
    VideoFrameTimes times_;
    ClipFormat format_;
    // The decoder that read the index, kept for the first sequence.
    mutable std::mutex spareMutex_;
    mutable std::unique_ptr<VideoDecoder> spare_;

    // frame(index) reads through one sequence while the frames asked for
    // follow each other.
    mutable std::unique_ptr<FrameSequence> cursor_;
    mutable OSType cursorFormat_ = 0;
    mutable int64_t cursorNext_ = 0;
    mutable std::optional<ClipFrame> cursorAhead_;
};

}  // namespace kv::host
