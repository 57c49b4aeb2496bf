#pragma once
// A video file as the host's clip: frame i is the picture whose time lies
// nearest the clip's start plus i frame durations (within half a frame, so
// that time stamps a little off the frame grid still land on their frame),
// decoded with FFmpeg. Frames are best asked
// for in increasing order (the decoder then reads straight on); an earlier
// frame, or one far ahead, makes it seek. Where the file has no picture of its own for a
// frame (a damaged frame that was skipped, a gap in its times), the picture
// before it is shown again, as a player would. A decoding error that ends
// the stream is kept for the caller and the last picture stands in for every
// later frame.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "host/clip_source.h"
#include "host/video/video_decoder.h"
#include "platform/foundation/result.h"

namespace kv::host {

class VideoClip final : public ClipSource {
public:
    // The clip of the video file at `path`; an error when it cannot be
    // decoded or states no frame rate or length.
    static Result<std::unique_ptr<VideoClip>> open(const std::filesystem::path& path);

    ClipFormat format() const override { return format_; }
    Frame frame(int64_t index) const override;
    // RGBA float surfaces get the picture written straight onto them.
    std::shared_ptr<IOSurface> frameSurface(int64_t index, OSType pixelFormat) const override;

    // The first error the decoder met, if any.
    std::optional<Error> error() const { return error_; }
    // How many frames were shown with the picture of an earlier one.
    int64_t repeatedFrames() const { return repeated_; }
    const VideoStreamInfo& info() const { return decoder_->info(); }

private:
    explicit VideoClip(std::unique_ptr<VideoDecoder> decoder, ClipFormat format);

    // The picture of frame `index`; null when nothing could be decoded.
    const std::vector<float>* picture(int64_t index) const;
    // Reads pictures until the next one lies at or after `limit`.
    void advanceTo(CMTime limit) const;
    void restartAt(CMTime time) const;
    // The next picture into a buffer of its own (reused); empty at the end.
    std::optional<VideoFrame> readPicture() const;

    std::unique_ptr<VideoDecoder> decoder_;
    ClipFormat format_;
    CMTime halfFrame_;
    // Decoding moves on as frames are asked for, behind the const interface.
    mutable std::optional<VideoFrame> shown_;      // the picture at the last time asked for
    mutable std::optional<VideoFrame> lookahead_;  // the picture after it, once read
    mutable std::vector<float> spare_;             // a buffer to decode the next picture into
    mutable bool ended_ = false;
    mutable std::optional<int64_t> lastIndex_;
    mutable std::optional<Error> error_;
    mutable int64_t repeated_ = 0;
};

}  // namespace kv::host
