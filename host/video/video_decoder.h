#pragma once
// Decodes the video stream of a file with FFmpeg into frames of packed RGBA
// 32-bit floats (display values 0..1, alpha 1), in presentation order, each
// with its time in the stream's own time base.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/video/frame_handle.h"
#include "host/video/pixel_layout.h"
#include "platform/coremedia/cmtime.h"
#include "platform/foundation/result.h"

namespace kv {

struct VideoStreamInfo {
    // The size as stored; frames are decoded at this size whatever the pixel shape.
    int32_t width = 0;
    int32_t height = 0;
    // The shape of a stored pixel (width:height); 1:1 when the file does not say.
    int32_t sampleAspectNumerator = 1;
    int32_t sampleAspectDenominator = 1;
    // The timescale of every frame time (the stream time base's denominator).
    int32_t timescale = 0;
    // One frame at the stream's frame rate; invalid when the stream has none.
    CMTime frameDuration = kCMTimeInvalid;
    // The first frame's time as the container states it (zero when unknown).
    CMTime startTime = kCMTimeZero;
    // The stream's length; invalid when unknown.
    CMTime duration = kCMTimeInvalid;
    // The number of frames the container states; empty when it does not.
    std::optional<int64_t> frameCount;
    std::string codecName;

    size_t packedBytesPerRow() const { return static_cast<size_t>(width) * 4 * sizeof(float); }
};

// The frames a file holds, as its packets tell without decoding them.
struct VideoFrameTimes {
    // Their presentation times, in increasing order.
    std::vector<CMTime> times;
    // Where the last one ends: its time plus its stated duration, or one
    // frame at the stream's rate when it states none.
    CMTime end = kCMTimeInvalid;
};

struct VideoFrame {
    CMTime time;
    // width × height pixels of R, G, B, A, rows packed.
    std::vector<float> rgba;
};

// A frame decoded but not yet converted, with its time.
struct DecodedPicture {
    CMTime time;
    AVFramePtr frame;
};

class VideoDecoder {
public:
    // Opens `path` and picks its best video stream. Errors name the file and
    // say why: missing, not a readable video, no video stream, or a codec or
    // pixel format that cannot be decoded.
    static Result<std::unique_ptr<VideoDecoder>> open(const std::filesystem::path& path);

    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    const VideoStreamInfo& info() const;

    // From now on delivers only frames whose time t has start ≤ t < end of
    // `range` (an infinite duration reaches the end of the stream). Seeks to
    // the keyframe at or before the start; the frames decoded before the start
    // are dropped.
    Result<void> setTimeRange(CMTimeRange range);

    // Reads the video stream's packets from the start, without decoding, for
    // the times of the frames the file really holds (fewer than its header
    // states when the file was cut short), then goes back to the start.
    // Packets that carry no time are taken one frame duration apart. `stop`,
    // when given, is asked now and then; answering true ends the reading with
    // an error.
    Result<VideoFrameTimes> indexFrames(const std::function<bool()>& stop = {});

    // Decodes the next frame into `rgba` (height rows of width pixels, rows
    // `bytesPerRow` apart; bytesPerRow ≥ info().packedBytesPerRow()) and gives
    // its time; empty after the last frame. A damaged frame, or one whose time
    // does not follow the previous frame's, is skipped with a log line.
    Result<std::optional<CMTime>> readFrame(float* rgba, size_t bytesPerRow);

    // The same into a new packed frame.
    Result<std::optional<VideoFrame>> readFrame();

    // readFrame in two steps, so that frames convert while the next
    // decodes: the next frame as the decoder gave it, then its conversion,
    // which is safe on several threads at once and in any order, into
    // `layout` (bytesPerRow a multiple of 4, at least width × its bytes per
    // pixel).
    Result<std::optional<DecodedPicture>> decodePicture();
    Result<void> convert(const DecodedPicture& picture, PixelLayout layout, std::byte* pixels, size_t bytesPerRow);

private:
    struct State;
    explicit VideoDecoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace kv
