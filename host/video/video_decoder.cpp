#include "host/video/video_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "host/video/ffmpeg_support.h"
#include "host/video/rgba_converter.h"
#include "host/video/stream_time.h"
#include "platform/coremedia/cmtime_coding.h"
#include "platform/foundation/log.h"

namespace kv {

using ffmpeg::errorText;

namespace {

// The stream's frame rate as FFmpeg's own tools judge it: the container's
// base rate unless the average rate is clearly the truer one.
CMTime frameDurationOf(AVFormatContext* format, AVStream* stream) {
    const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
    return frameDurationForRate(rate.num, rate.den);
}

CMTime streamTimeOr(int64_t ticks, AVRational base, CMTime fallback) {
    if (ticks == AV_NOPTS_VALUE) return fallback;
    return streamTime(ticks, base.num, base.den).value_or(fallback);
}

// The stream's length from its first frame: its own if stated, else up to
// the container's end. The container's length counts from the container's
// start, which lies before the stream's when another stream (the audio)
// begins first; counted from the stream's start it would promise frames
// past the end of an intact file.
CMTime durationOf(const AVFormatContext& format, const AVStream& stream) {
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) {
        return streamTimeOr(stream.duration, stream.time_base, kCMTimeInvalid);
    }
    if (format.duration == AV_NOPTS_VALUE || format.duration <= 0) return kCMTimeInvalid;
    // In microseconds, with room for whatever the header states.
    __int128 length = format.duration;
    if (format.start_time != AV_NOPTS_VALUE && stream.start_time != AV_NOPTS_VALUE) {
        length -= av_rescale_q(stream.start_time, stream.time_base, AV_TIME_BASE_Q) - __int128(format.start_time);
    }
    if (length <= 0 || length > INT64_MAX) return kCMTimeInvalid;
    return streamTimeOr(av_rescale_q(int64_t(length), AV_TIME_BASE_Q, stream.time_base), stream.time_base,
                        kCMTimeInvalid);
}

// " (h264)", or the tag of a codec FFmpeg does not know: " (tag QQQQ)".
std::string codecText(const AVCodecParameters& p) {
    if (p.codec_id != AV_CODEC_ID_NONE) return std::string(" (") + avcodec_get_name(p.codec_id) + ")";
    char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
    av_fourcc_make_string(tag, p.codec_tag);
    return std::string(" (tag ") + tag + ")";
}

// What a path names must be a regular file: opening a FIFO would wait for a
// writer forever, and a directory or device is no video. A name that is no
// file but one of FFmpeg's own protocols ("https://...") is left to FFmpeg.
Result<void> checkReadable(const std::filesystem::path& path) {
    std::error_code code;
    const std::filesystem::file_status status = std::filesystem::status(path, code);
    if (status.type() == std::filesystem::file_type::regular) return {};
    if (status.type() == std::filesystem::file_type::not_found) {
        const char* protocol = avio_find_protocol_name(path.c_str());
        if (protocol && std::string_view(protocol) != "file") return {};
        return Error{"The video file " + path.string() + " does not exist."};
    }
    if (code && status.type() == std::filesystem::file_type::none) {
        return Error{"The video file " + path.string() + " cannot be reached: " + code.message()};
    }
    const char* what = "not a regular file";
    switch (status.type()) {
        case std::filesystem::file_type::directory: what = "a directory"; break;
        case std::filesystem::file_type::fifo: what = "a FIFO (named pipe)"; break;
        case std::filesystem::file_type::socket: what = "a socket"; break;
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character: what = "a device"; break;
        default: break;
    }
    return Error{path.string() + " is " + what + ", not a video file; give the path of a regular file."};
}

VideoStreamInfo describe(AVFormatContext* format, AVStream* stream, const AVCodec& codec) {
    const AVCodecParameters& p = *stream->codecpar;
    VideoStreamInfo info;
    info.width = p.width;
    info.height = p.height;
    const AVRational sar = av_guess_sample_aspect_ratio(format, stream, nullptr);
    if (sar.num > 0 && sar.den > 0) {
        info.sampleAspectNumerator = sar.num;
        info.sampleAspectDenominator = sar.den;
    }
    info.timescale = stream->time_base.den;
    info.frameDuration = frameDurationOf(format, stream);
    info.startTime = streamTimeOr(stream->start_time, stream->time_base, kCMTimeZero);
    info.duration = durationOf(*format, *stream);
    if (stream->nb_frames > 0) info.frameCount = stream->nb_frames;
    info.codecName = codec.name;
    return info;
}

}  // namespace

struct VideoDecoder::State {
    std::string name;
    ffmpeg::FormatContextPtr format;
    ffmpeg::CodecContextPtr codec;
    ffmpeg::PacketPtr packet{av_packet_alloc()};
    AVFramePtr frame{av_frame_alloc()};
    AVStream* stream = nullptr;
    VideoStreamInfo info;
    // Converters not in use: one is made for each thread converting at once.
    std::mutex convertersMutex;
    std::vector<std::unique_ptr<RgbaConverter>> idleConverters;

    CMTime rangeStart = kCMTimeNegativeInfinity;
    CMTime rangeEnd = kCMTimePositiveInfinity;
    // The last frame time handed on or passed over; times must increase.
    std::optional<CMTime> lastTime;
    // The end of the packets has been sent to the decoder.
    bool draining = false;
    // Set after a seek that did not go to the stream's start: if the first
    // frame decoded lies after the range start, the seek overshot.
    bool checkSeekLanding = false;
    // A frame at or after the range end has been seen.
    bool finished = false;
    // Decoder errors since the last frame that came out.
    int failuresInARow = 0;

    Result<bool> receiveFrame();
    Result<bool> sendNextPacket();
    Result<void> seekTo(int64_t ticks);
    int64_t firstTick() const { return stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time; }
    std::optional<CMTime> acceptFrameTime();
    Result<void> skipDamaged(int code);
    Result<void> checkBuffer(const void* pixels, size_t bytesPerRow, PixelLayout layout) const;
};

// Logs a packet or frame the decoder refused. A stream that yields nothing but
// errors is given up rather than read to its end one warning at a time.
Result<void> VideoDecoder::State::skipDamaged(int code) {
    constexpr int kMostFailuresInARow = 100;
    if (++failuresInARow > kMostFailuresInARow) {
        return Error{"Gave up decoding " + name + ": " + std::to_string(kMostFailuresInARow) +
                     " damaged frames in a row, the last: " + errorText(code)};
    }
    NSLog("Skipped a damaged frame in " + name + ": " + errorText(code));
    return {};
}

// Gets the next frame out of the decoder into `frame`, feeding it packets as
// it asks; false at the end of the stream.
Result<bool> VideoDecoder::State::receiveFrame() {
    for (;;) {
        const int received = avcodec_receive_frame(codec.get(), frame.get());
        if (received == 0) {
            failuresInARow = 0;
            return true;
        }
        if (received == AVERROR_EOF) return false;
        if (received == AVERROR(EAGAIN)) {
            auto sent = sendNextPacket();
            if (!sent) return sent.error();
            if (!*sent) return false;
            continue;
        }
        if (received == AVERROR(ENOMEM)) return Error{"Out of memory while decoding " + name + "."};
        if (auto skipped = skipDamaged(received); !skipped) return skipped.error();
    }
}

// Sends the next packet of the video stream, or the end of the stream once.
// False when there is nothing more to send.
Result<bool> VideoDecoder::State::sendNextPacket() {
    if (draining) return false;
    for (;;) {
        const int read = av_read_frame(format.get(), packet.get());
        if (read == AVERROR_EOF) {
            draining = true;
            avcodec_send_packet(codec.get(), nullptr);
            return true;
        }
        if (read < 0) return Error{"Could not read " + name + ": " + errorText(read)};
        const bool ours = packet->stream_index == stream->index;
        const int sent = ours ? avcodec_send_packet(codec.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (!ours) continue;
        if (sent == AVERROR(ENOMEM)) return Error{"Out of memory while decoding " + name + "."};
        if (sent < 0) {
            if (auto skipped = skipDamaged(sent); !skipped) return skipped.error();
        }
        return true;
    }
}

Result<void> VideoDecoder::State::seekTo(int64_t ticks) {
    const int sought = av_seek_frame(format.get(), stream->index, ticks, AVSEEK_FLAG_BACKWARD);
    if (sought < 0) return Error{"Could not seek in " + name + ": " + errorText(sought)};
    avcodec_flush_buffers(codec.get());
    draining = false;
    failuresInARow = 0;
    lastTime.reset();
    return {};
}

// The time of the frame just decoded, or empty when the frame is to be
// passed over (damaged, without a time, or not later than the one before).
std::optional<CMTime> VideoDecoder::State::acceptFrameTime() {
    if (frame->flags & AV_FRAME_FLAG_CORRUPT || frame->decode_error_flags != 0) {
        NSLog("Skipped a damaged frame in " + name + ": the decoder could only conceal its errors");
            return std::nullopt;
    }
    const int64_t ticks = frame->best_effort_timestamp;
    const std::optional<CMTime> time =
        ticks == AV_NOPTS_VALUE ? std::nullopt : streamTime(ticks, stream->time_base.num, stream->time_base.den);
    if (!time) {
        NSLog("Skipped a frame without a usable time in " + name);
            return std::nullopt;
    }
    if (lastTime && CMTimeCompare(*time, *lastTime) <= 0) {
        NSLog("Dropped the frame at " + timeText(*time) + " in " + name + ": its time does not follow " +
              timeText(*lastTime));
        return std::nullopt;
    }
    lastTime = time;
    return time;
}

VideoDecoder::VideoDecoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
VideoDecoder::~VideoDecoder() = default;

const VideoStreamInfo& VideoDecoder::info() const { return state_->info; }

Result<std::unique_ptr<VideoDecoder>> VideoDecoder::open(const std::filesystem::path& path) {
    ffmpeg::routeLogToSystemLog();
    auto s = std::make_unique<State>();
    s->name = path.string();
    if (!s->packet || !s->frame) return Error{"Out of memory while opening " + s->name + "."};

    if (auto readable = checkReadable(path); !readable) return readable.error();
    AVFormatContext* format = nullptr;
    const int opened = avformat_open_input(&format, ffmpeg::inputUrl(path).c_str(), nullptr, nullptr);
    if (opened == AVERROR(ENOENT)) return Error{"The video file " + s->name + " does not exist."};
    if (opened < 0) return Error{s->name + " is not a video file that can be read: " + errorText(opened)};
    s->format.reset(format);
    const int found = avformat_find_stream_info(format, nullptr);
    if (found < 0) return Error{s->name + " is not a video file that can be read: " + errorText(found)};

    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index == AVERROR_DECODER_NOT_FOUND || (index >= 0 && !codec)) {
        const int undecodable = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const std::string what = undecodable >= 0 ? codecText(*format->streams[undecodable]->codecpar) : "";
        return Error{s->name + ": its video codec" + what + " cannot be decoded."};
    }
    // A cover picture of an audio file is no video.
    if (index < 0 || format->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC) {
        return Error{s->name + " has no video stream."};
    }
    s->stream = format->streams[index];
    // Only the video stream's packets are read at all.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (int(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVCodecParameters& parameters = *s->stream->codecpar;
    if (parameters.width <= 0 || parameters.height <= 0 || s->stream->time_base.num <= 0 ||
        s->stream->time_base.den <= 0) {
        return Error{s->name + ": its video stream states no frame size or time base."};
    }
    if (parameters.format == AV_PIX_FMT_NONE ||
        !RgbaConverter::canConvert(static_cast<AVPixelFormat>(parameters.format))) {
        return Error{s->name + ": the pixel format of its " + codec->name + " video cannot be converted."};
    }

    s->codec.reset(avcodec_alloc_context3(codec));
    if (!s->codec) return Error{"Out of memory while opening " + s->name + "."};
    if (const int copied = avcodec_parameters_to_context(s->codec.get(), &parameters); copied < 0) {
        return Error{s->name + ": its video decoder cannot be set up: " + errorText(copied)};
    }
    s->codec->pkt_timebase = s->stream->time_base;
    // Half the cores: the pictures are converted and used on the others, and
    // more decoding threads than that decode no faster here, but preempt
    // the parallel loops that convert and use the pictures.
    s->codec->thread_count = int(std::max(1u, std::thread::hardware_concurrency() / 2));
    if (const int ready = avcodec_open2(s->codec.get(), codec, nullptr); ready < 0) {
        return Error{s->name + ": its " + codec->name + " video cannot be decoded: " + errorText(ready)};
    }

    s->info = describe(format, s->stream, *codec);
    return std::unique_ptr<VideoDecoder>(new VideoDecoder(std::move(s)));
}

Result<VideoFrameTimes> VideoDecoder::indexFrames(const std::function<bool()>& stop) {
    State& s = *state_;
    if (auto sought = s.seekTo(s.firstTick()); !sought) return sought.error();
    std::vector<int64_t> ticks;
    int64_t packets = 0;
    bool allTimed = true;
    int64_t lastDuration = 0;  // of the packet with the latest time
    for (;;) {
        if (stop && packets % 256 == 0 && stop()) return Error{"Stopped while reading " + s.name + "."};
        const int read = av_read_frame(s.format.get(), s.packet.get());
        if (read == AVERROR(ENOMEM)) return Error{"Out of memory while reading " + s.name + "."};
        if (read < 0) {
            // A file cut short ends where its data ends, with or without an error.
            if (read != AVERROR_EOF) NSLog("The data of " + s.name + " ends early: " + errorText(read));
            break;
        }
        const AVPacket& p = *s.packet;
        // Packets to be decoded but not shown (before an edit's start) are no frames.
        if (p.stream_index == s.stream->index && !(p.flags & AV_PKT_FLAG_DISCARD)) {
            ++packets;
            if (p.pts == AV_NOPTS_VALUE) {
                allTimed = false;
            } else {
                if (ticks.empty() || p.pts > ticks.back()) lastDuration = p.duration;
                ticks.push_back(p.pts);
            }
        }
        av_packet_unref(s.packet.get());
    }
    if (auto sought = s.seekTo(s.firstTick()); !sought) return sought.error();

    VideoFrameTimes frames;
    const AVRational base = s.stream->time_base;
    const CMTime step = s.info.frameDuration;
    auto add = [&](int64_t tick) {
        if (auto time = streamTime(tick, base.num, base.den)) frames.times.push_back(*time);
    };
    if (allTimed) {
        std::sort(ticks.begin(), ticks.end());
        ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
        for (int64_t tick : ticks) add(tick);
    } else {
        // Without times, the frames follow one another at the stream's rate.
        const std::optional<int64_t> stepTicks = streamTicksAtOrBefore(step, base.num, base.den);
        for (int64_t i = 0, offset = 0, tick = 0; stepTicks && *stepTicks > 0 && i < packets; ++i) {
            if (__builtin_mul_overflow(i, *stepTicks, &offset) ||
                __builtin_add_overflow(s.firstTick(), offset, &tick)) {
                break;
            }
            add(tick);
        }
        lastDuration = 0;
    }
    if (frames.times.empty()) return frames;
    const CMTime last = frames.times.back();
    const std::optional<CMTime> stated =
        lastDuration > 0 ? streamTime(lastDuration, base.num, base.den) : std::nullopt;
    frames.end = CMTimeAdd(last, stated ? *stated : step);
    return frames;
}

Result<void> VideoDecoder::setTimeRange(CMTimeRange range) {
    State& s = *state_;
    const CMTime end = CMTimeRangeGetEnd(range);
    if (!CMTimeIsNumeric(range.start) || !CMTimeIsValid(end) || CMTimeCompare(end, range.start) < 0) {
        return Error{"The time range asked of " + s.name + " is not a valid range."};
    }
    const AVRational base = s.stream->time_base;
    const int64_t ticks = streamTicksAtOrBefore(range.start, base.num, base.den).value_or(0);
    const int64_t first = s.firstTick();
    if (auto sought = s.seekTo(ticks > first ? ticks : first); !sought) return sought;
    s.checkSeekLanding = ticks > first;
    s.rangeStart = range.start;
    s.rangeEnd = end;
    s.finished = false;
    return {};
}

Result<void> VideoDecoder::State::checkBuffer(const void* pixels, size_t bytesPerRow, PixelLayout layout) const {
    if (!pixels || bytesPerRow / bytesPerPixel(layout) < size_t(info.width) || bytesPerRow % 4 != 0) {
        return Error{"The buffer for a frame of " + name + " is too small or misaligned."};
    }
    return {};
}

Result<std::optional<DecodedPicture>> VideoDecoder::decodePicture() {
    State& s = *state_;
    while (!s.finished) {
        auto received = s.receiveFrame();
        if (!received) return received.error();
        if (!*received) break;
        const std::optional<CMTime> time = s.acceptFrameTime();
        if (!time) continue;
        if (s.checkSeekLanding) {
            s.checkSeekLanding = false;
            if (CMTimeCompare(*time, s.rangeStart) > 0) {
                // The seek passed the range start: decode from the stream's start instead.
                if (auto sought = s.seekTo(s.firstTick()); !sought) return sought.error();
                continue;
            }
        }
        if (CMTimeCompare(*time, s.rangeStart) < 0) continue;
        if (CMTimeCompare(*time, s.rangeEnd) >= 0) break;
        // The decoder's picture itself, by reference: nothing is copied.
        AVFramePtr picture(av_frame_alloc());
        if (!picture) return Error{"Out of memory while decoding " + s.name + "."};
        av_frame_move_ref(picture.get(), s.frame.get());
        return std::optional<DecodedPicture>(DecodedPicture{*time, std::move(picture)});
    }
    s.finished = true;
    return std::optional<DecodedPicture>();
}

Result<void> VideoDecoder::convert(const DecodedPicture& picture, PixelLayout layout, std::byte* pixels,
                                   size_t bytesPerRow) {
    if (auto fits = state_->checkBuffer(pixels, bytesPerRow, layout); !fits) return fits;
    State& s = *state_;
    if (!picture.frame) return Error{"No picture of " + s.name + " to convert."};
    std::unique_ptr<RgbaConverter> converter;
    {
        std::lock_guard guard(s.convertersMutex);
        if (!s.idleConverters.empty()) {
            converter = std::move(s.idleConverters.back());
            s.idleConverters.pop_back();
        }
    }
    if (!converter) converter = std::make_unique<RgbaConverter>(s.info.width, s.info.height);
    auto converted = converter->convert(*picture.frame, layout, pixels, bytesPerRow);
    std::lock_guard guard(s.convertersMutex);
    s.idleConverters.push_back(std::move(converter));
    return converted;
}

Result<std::optional<CMTime>> VideoDecoder::readFrame(float* rgba, size_t bytesPerRow) {
    if (auto fits = state_->checkBuffer(rgba, bytesPerRow, PixelLayout::rgbaFloat); !fits) return fits.error();
    auto picture = decodePicture();
    if (!picture) return picture.error();
    if (!*picture) return std::optional<CMTime>();
    std::byte* const pixels = reinterpret_cast<std::byte*>(rgba);
    if (auto converted = convert(**picture, PixelLayout::rgbaFloat, pixels, bytesPerRow); !converted) {
        return converted.error();
    }
    return std::optional<CMTime>((*picture)->time);
}

Result<std::optional<VideoFrame>> VideoDecoder::readFrame() {
    VideoFrame frame;
    frame.rgba.resize(static_cast<size_t>(state_->info.width) * state_->info.height * 4);
    auto time = readFrame(frame.rgba.data(), state_->info.packedBytesPerRow());
    if (!time) return time.error();
    if (!*time) return std::optional<VideoFrame>();
    frame.time = **time;
    return std::optional<VideoFrame>(std::move(frame));
}

}  // namespace kv
