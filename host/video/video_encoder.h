#pragma once
// Writes the host's rendered frames with FFmpeg: a video file whose container
// follows the output name (H.264 in MP4 by default), with the audio of the
// source copied in unchanged, and single frames as PNG stills. Both are
// written into an AtomicFile, put in place only once complete, so a failed or
// abandoned write leaves the previous file as it was; FFmpeg writes to the
// file's descriptor, never to a name it might read as one of its protocols.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/video/frame_handle.h"
#include "platform/coremedia/cmtime.h"
#include "platform/foundation/atomic_file.h"
#include "platform/foundation/result.h"

namespace kv {

// 8-bit blue, green, red, alpha pixels, rows `bytesPerRow` apart, the colour
// premultiplied by alpha, as the effect renders into a 'BGRA' surface.
struct BgraImage {
    const uint8_t* pixels = nullptr;
    size_t bytesPerRow = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// A picture converted to the encoder's pixel format, ready to be encoded.
using CodecPicture = AVFramePtr;

struct VideoEncoderSettings {
    int32_t width = 0;
    int32_t height = 0;
    // Frame times are kept in ticks of 1/timescale second (the source's time base).
    int32_t timescale = 0;
    // One frame at the nominal rate; invalid when the source states none.
    CMTime frameDuration = kCMTimeInvalid;
    int32_t sampleAspectNumerator = 1;
    int32_t sampleAspectDenominator = 1;
    // An FFmpeg encoder by name; by default H.264 when the container takes
    // it and FFmpeg has an encoder for it, else the container's own codec.
    std::optional<std::string> codec;
    // The file whose audio stream, if any, is copied packet by packet.
    std::optional<std::filesystem::path> audioSource;
    // The output begins at this source time: video and audio times move back
    // by it, and audio before it or from `end` on is left out.
    CMTime start = kCMTimeZero;
    CMTime end = kCMTimePositiveInfinity;
};

class VideoEncoder {
public:
    // Sets up the encoder and starts the file: errors for a name whose
    // container FFmpeg does not know, a codec it has no encoder for, the
    // container cannot hold or that cannot take the frames. The container
    // follows the file's name.
    static Result<std::unique_ptr<VideoEncoder>> create(AtomicFile file, const VideoEncoderSettings& settings);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // The encoder's name, e.g. "libx264".
    std::string codecName() const;
    // One line each for what the file keeps otherwise than asked: the
    // source's audio left out, a pixel format other than the usual one.
    const std::vector<std::string>& notes() const;
    // Whether pictures are converted without FFmpeg's scaler, by its own
    // arithmetic, the first having come out the same both ways.
    bool convertsDirectly() const;

    // The image in the codec's pixel format; transparent pixels come out
    // black. Safe on several threads at once, so that pictures are converted
    // where they are made and the thread that encodes only encodes.
    Result<CodecPicture> convert(const BgraImage& image);
    // Encodes the picture shown from source time `time` on; times must increase.
    Result<void> encode(CodecPicture picture, CMTime time);
    // Drains the encoder, writes the rest of the audio and the file's end,
    // and puts the file in place.
    Result<void> finish();

private:
    struct State;
    explicit VideoEncoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Writes the image as a PNG with its alpha (not premultiplied, as PNG keeps
// it) into `file`, and puts the file in place.
Result<void> writePng(AtomicFile file, const BgraImage& image);

}  // namespace kv
