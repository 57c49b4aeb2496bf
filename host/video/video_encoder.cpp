#include "host/video/video_encoder.h"

extern "C" {
#include <libavutil/common.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "host/video/bgr_to_yuv.h"
#include "host/video/ffmpeg_support.h"
#include "platform/foundation/log.h"

namespace kv {

using ffmpeg::errorText;

namespace {

// The output and the writer over the file's descriptor that it was given
// (FFmpeg's own closing is for the writers it opened itself).
struct OutputFreer {
    void operator()(AVFormatContext* c) const {
        if (!c) return;
        if (c->pb) av_freep(&c->pb->buffer);
        avio_context_free(&c->pb);
        avformat_free_context(c);
    }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputFreer>;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const uint8_t*;
#else
using WrittenBytes = uint8_t*;
#endif

// FFmpeg's writes and seeks, on the descriptor of the AtomicFile `opaque`
// points to (none once it is put in place).
int writeToDescriptor(void* opaque, WrittenBytes data, int size) {
    const int fd = static_cast<const AtomicFile*>(opaque)->descriptor();
    for (int left = size; left > 0;) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return AVERROR(errno);
        data += written;
        left -= int(written);
    }
    return size;
}

int64_t seekDescriptor(void* opaque, int64_t offset, int whence) {
    const int fd = static_cast<const AtomicFile*>(opaque)->descriptor();
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : int64_t(at);
}

// Memory lent to FFmpeg for a call, owned by the caller.
void lentMemory(void*, uint8_t*) {}

// The colour matrix of the codec's Y'CbCr frames.
constexpr int kCodecColorspace = SWS_CS_ITU709;

// The frame as the codec takes it: its own RGB layout when it has one (a
// lossless codec then keeps every pixel), else 4:2:0 as players expect, else
// what FFmpeg judges nearest.
AVPixelFormat pixelFormatFor(const AVCodec& codec) {
    if (!codec.pix_fmts) return AV_PIX_FMT_YUV420P;
    for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == AV_PIX_FMT_BGR0) return *f;
    }
    for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == AV_PIX_FMT_YUV420P) return *f;
    }
    return avcodec_find_best_pix_fmt_of_list(codec.pix_fmts, AV_PIX_FMT_BGR0, 0, nullptr);
}

// Whether two 8-bit planar YUV pictures of one format and size hold the
// same samples.
bool samePlanes(const AVFrame& a, const AVFrame& b) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(a.format));
    for (int plane = 0; plane < 3; ++plane) {
        const int width = plane ? AV_CEIL_RSHIFT(a.width, d->log2_chroma_w) : a.width;
        const int height = plane ? AV_CEIL_RSHIFT(a.height, d->log2_chroma_h) : a.height;
        for (int y = 0; y < height; ++y) {
            if (std::memcmp(a.data[plane] + ptrdiff_t(y) * a.linesize[plane],
                            b.data[plane] + ptrdiff_t(y) * b.linesize[plane], size_t(width)) != 0) {
                return false;
            }
        }
    }
    return true;
}

// Whether the format halves the colour's resolution along a side of odd length.
bool subsampledAcrossOddSide(AVPixelFormat format, int32_t width, int32_t height) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && ((width % 2 != 0 && d->log2_chroma_w > 0) || (height % 2 != 0 && d->log2_chroma_h > 0));
}

// A format of the codec's that keeps the colour at full resolution along
// the odd sides: 4:4:4 when it has it.
std::optional<AVPixelFormat> fullColourFormat(const AVCodec& codec, int32_t width, int32_t height) {
    if (!codec.pix_fmts) return std::nullopt;
    std::optional<AVPixelFormat> found;
    for (const AVPixelFormat* f = codec.pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*f);
        if (!d || (d->flags & AV_PIX_FMT_FLAG_HWACCEL) || subsampledAcrossOddSide(*f, width, height)) continue;
        if (*f == AV_PIX_FMT_YUV444P) return *f;
        if (!found) found = *f;
    }
    return found;
}

// Codecs and containers that count frames at one rate rather than keep each
// frame's time: Theora takes its time base as its frame rate, and an AVI file
// plays its frames one per tick.
bool countsFrames(const AVOutputFormat& container, const AVCodec& codec) {
    return codec.id == AV_CODEC_ID_THEORA || std::string_view(container.name) == "avi";
}

// The encoder set up for the output and opened, or FFmpeg's error code.
struct OpenedCodec {
    ffmpeg::CodecContextPtr context;
    int error = 0;
};

OpenedCodec openEncoder(const AVCodec& codec, const AVOutputFormat& container, const VideoEncoderSettings& settings,
                        AVRational timeBase, AVPixelFormat format) {
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(&codec));
    if (!context) return {nullptr, AVERROR(ENOMEM)};
    AVCodecContext& c = *context;
    c.width = settings.width;
    c.height = settings.height;
    c.time_base = timeBase;
    if (CMTimeIsNumeric(settings.frameDuration) && settings.frameDuration.value > 0 &&
        settings.frameDuration.value <= INT32_MAX) {
        c.framerate = AVRational{settings.frameDuration.timescale, int(settings.frameDuration.value)};
        av_reduce(&c.framerate.num, &c.framerate.den, c.framerate.num, c.framerate.den, INT32_MAX);
    }
    c.sample_aspect_ratio = AVRational{settings.sampleAspectNumerator, settings.sampleAspectDenominator};
    c.pix_fmt = format;
    if (format != AV_PIX_FMT_BGR0) {
        c.colorspace = AVCOL_SPC_BT709;
        c.color_primaries = AVCOL_PRI_BT709;
        c.color_trc = AVCOL_TRC_BT709;
        c.color_range = AVCOL_RANGE_MPEG;
    }
    c.thread_count = 0;  // as many threads as cores
    if (container.flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    // x264's quicker presets keep the render well ahead of real time at a
    // quality that hides the codec.
    if (std::string_view(codec.name) == "libx264") {
        av_dict_set(&options, "preset", "veryfast", 0);
        av_dict_set(&options, "crf", "18", 0);
    }
    const int opened = avcodec_open2(&c, &codec, &options);
    av_dict_free(&options);
    if (opened < 0) return {nullptr, opened};
    return {std::move(context), 0};
}

Result<const AVCodec*> chooseCodec(const AVOutputFormat& container, const VideoEncoderSettings& settings,
                                   const std::string& name) {
    const AVCodec* codec = nullptr;
    if (settings.codec) {
        codec = avcodec_find_encoder_by_name(settings.codec->c_str());
        if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) {
            return Error{"FFmpeg has no video encoder named '" + *settings.codec + "'."};
        }
    } else {
        if (avformat_query_codec(&container, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 1) {
            codec = avcodec_find_encoder(AV_CODEC_ID_H264);
        }
        if (!codec && container.video_codec != AV_CODEC_ID_NONE) codec = avcodec_find_encoder(container.video_codec);
        if (!codec) return Error{"FFmpeg has no encoder for the video of " + name + "."};
    }
    if (avformat_query_codec(&container, codec->id, FF_COMPLIANCE_NORMAL) != 1) {
        return Error{std::string("A ") + container.name + " file cannot hold " + codec->name + " video (" + name +
                     ")."};
    }
    return codec;
}

// The CMTime's ticks of `base`, rounded to nearest.
int64_t ticksOf(CMTime time, AVRational base) {
    return av_rescale_q_rnd(time.value, AVRational{1, time.timescale}, base,
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

}  // namespace

struct VideoEncoder::State {
    std::string name;
    // Declared before the output, which writes into it, so that it closes last.
    std::optional<AtomicFile> file;
    OutputContextPtr output;
    ffmpeg::CodecContextPtr codec;
    AVStream* video = nullptr;
    ffmpeg::PacketPtr packet{av_packet_alloc()};
    // Scalers not in use (each converts one picture at a time, and one is
    // made for each thread converting at once) and pictures already encoded,
    // kept for their memory.
    std::mutex convertersMutex;
    std::vector<BgrScaler> idleScalers;
    std::vector<CodecPicture> sparePictures;
    // The scaler's arithmetic done directly, when it covers the codec's
    // frames: used once a first picture has come out the same both ways
    // (another build of FFmpeg may round otherwise), while that picture is
    // checked the others go by the scaler.
    std::unique_ptr<BgrToYuv> direct;
    bool directChecked = false;
    bool directChecking = false;
    VideoEncoderSettings settings;
    std::vector<std::string> notes;
    // The last frame's time in the encoder's ticks: each frame takes a later one.
    std::optional<int64_t> lastTicks;

    // The source's audio, copied as the video passes its times.
    ffmpeg::FormatContextPtr audioInput;
    AVStream* audioIn = nullptr;
    AVStream* audioOut = nullptr;
    ffmpeg::PacketPtr audioPacket{av_packet_alloc()};
    // The next packet to copy, read ahead, and its source time in ticks.
    bool audioPending = false;
    int64_t audioAt = 0;
    bool audioDone = true;

    Result<void> openAudio();
    // Copies the source's audio packets that begin before `limit` (a source time).
    Result<void> copyAudioUntil(CMTime limit);
    Result<void> drainPackets();
    // Converts `image` directly beside the scaler's `scaled` and settles
    // whether pictures go directly from now on.
    void checkDirect(const BgraImage& image, const AVFrame& scaled);
    Error failure(const std::string& what, int code) const {
        return Error{"Could not " + what + " " + name + ": " + errorText(code)};
    }
};

Result<void> VideoEncoder::State::openAudio() {
    if (!settings.audioSource) return {};
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, ffmpeg::inputUrl(*settings.audioSource).c_str(), nullptr, nullptr) < 0) return {};
    audioInput.reset(input);
    if (avformat_find_stream_info(input, nullptr) < 0) return {};
    const int index = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return {};
    audioIn = input->streams[index];
    if (avformat_query_codec(output->oformat, audioIn->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
        notes.push_back(std::string("the source's ") + avcodec_get_name(audioIn->codecpar->codec_id) +
                    " audio cannot go into a " + output->oformat->name + " file and is left out");
        audioIn = nullptr;
        return {};
    }
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (int(i) != index) input->streams[i]->discard = AVDISCARD_ALL;
    }
    audioOut = avformat_new_stream(output.get(), nullptr);
    if (!audioOut) return Error{"Out of memory while writing " + name + "."};
    if (const int copied = avcodec_parameters_copy(audioOut->codecpar, audioIn->codecpar); copied < 0) {
        return failure("copy the audio into", copied);
    }
    audioOut->codecpar->codec_tag = 0;
    audioOut->time_base = audioIn->time_base;
    const int64_t from = ticksOf(settings.start, audioIn->time_base);
    if (av_seek_frame(input, index, from, AVSEEK_FLAG_BACKWARD) < 0) {
        av_seek_frame(input, index, 0, AVSEEK_FLAG_BACKWARD);
    }
    audioDone = false;
    return {};
}

Result<void> VideoEncoder::State::copyAudioUntil(CMTime limit) {
    const AVRational base = audioIn ? audioIn->time_base : AVRational{1, 1};
    const int64_t startTicks = ticksOf(settings.start, base);
    const bool bounded = CMTimeIsNumeric(settings.end);
    while (!audioDone) {
        if (!audioPending) {
            // The end of the file, or a read error: the rest of the audio is
            // left out, never the video.
            if (av_read_frame(audioInput.get(), audioPacket.get()) < 0) {
                audioDone = true;
                break;
            }
            audioAt = audioPacket->pts != AV_NOPTS_VALUE ? audioPacket->pts : audioPacket->dts;
            if (audioPacket->stream_index != audioIn->index || audioAt == AV_NOPTS_VALUE || audioAt < startTicks) {
                av_packet_unref(audioPacket.get());
                continue;
            }
            if (bounded && audioAt >= ticksOf(settings.end, base)) {
                av_packet_unref(audioPacket.get());
                audioDone = true;
                break;
            }
            audioPending = true;
        }
        if (CMTimeIsNumeric(limit) && audioAt >= ticksOf(limit, base)) break;
        // Moved to the output's start, then into the output stream's base.
        if (audioPacket->pts != AV_NOPTS_VALUE) audioPacket->pts -= startTicks;
        if (audioPacket->dts != AV_NOPTS_VALUE) audioPacket->dts -= startTicks;
        av_packet_rescale_ts(audioPacket.get(), base, audioOut->time_base);
        audioPacket->stream_index = audioOut->index;
        audioPacket->pos = -1;
        audioPending = false;
        if (const int written = av_interleaved_write_frame(output.get(), audioPacket.get()); written < 0) {
            return failure("write the audio of", written);
        }
    }
    return {};
}

Result<void> VideoEncoder::State::drainPackets() {
    for (;;) {
        const int received = avcodec_receive_packet(codec.get(), packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return {};
        if (received < 0) return failure("encode the video of", received);
        av_packet_rescale_ts(packet.get(), codec->time_base, video->time_base);
        packet->stream_index = video->index;
        if (const int written = av_interleaved_write_frame(output.get(), packet.get()); written < 0) {
            return failure("write", written);
        }
    }
}

void VideoEncoder::State::checkDirect(const BgraImage& image, const AVFrame& scaled) {
    AVFramePtr mine(av_frame_alloc());
    bool made = false;
    if (mine) {
        mine->format = scaled.format;
        mine->width = scaled.width;
        mine->height = scaled.height;
        made = av_frame_get_buffer(mine.get(), 0) >= 0;
    }
    if (made) direct->convert(image.pixels, image.bytesPerRow, *mine);
    const bool same = made && samePlanes(*mine, scaled);
    std::lock_guard guard(convertersMutex);
    directChecking = false;
    if (!made) return;  // checked on a later picture
    directChecked = same;
    if (!same) {
        direct.reset();
        NSLog("Pictures for " + name +
              " are converted by FFmpeg's scaler: the direct conversion differs from it here.");
    }
}

VideoEncoder::VideoEncoder(std::unique_ptr<State> state) : state_(std::move(state)) {}

VideoEncoder::~VideoEncoder() = default;

std::string VideoEncoder::codecName() const { return state_->codec->codec->name; }

const std::vector<std::string>& VideoEncoder::notes() const { return state_->notes; }

bool VideoEncoder::convertsDirectly() const {
    std::lock_guard guard(state_->convertersMutex);
    return state_->direct && state_->directChecked;
}

Result<std::unique_ptr<VideoEncoder>> VideoEncoder::create(AtomicFile file, const VideoEncoderSettings& settings) {
    ffmpeg::routeLogToSystemLog();
    auto s = std::make_unique<State>();
    s->name = file.path().string();
    s->settings = settings;
    if (!s->packet || !s->audioPacket) {
        return Error{"Out of memory while writing " + s->name + "."};
    }
    if (settings.width <= 0 || settings.height <= 0 || settings.timescale <= 0) {
        return Error{"No frame size or time base to write " + s->name + " with."};
    }
    const AVOutputFormat* container = av_guess_format(nullptr, s->name.c_str(), nullptr);
    if (!container || container->video_codec == AV_CODEC_ID_NONE || (container->flags & AVFMT_NOFILE)) {
        return Error{"Cannot tell a video format from the name " + s->name + " (try .mp4, .mkv or .mov)."};
    }
    auto chosen = chooseCodec(*container, settings, s->name);
    if (!chosen) return chosen.error();
    const AVCodec& codec = **chosen;

    // The frames' own times where codec and container keep them, else (or
    // when the codec refuses the source's time base) one tick per frame.
    std::vector<AVRational> timeBases;
    if (!countsFrames(*container, codec)) timeBases.push_back(AVRational{1, settings.timescale});
    if (CMTimeIsNumeric(settings.frameDuration) && settings.frameDuration.value > 0 &&
        settings.frameDuration.value <= INT32_MAX) {
        timeBases.push_back(AVRational{int(settings.frameDuration.value), settings.frameDuration.timescale});
    }
    if (timeBases.empty()) {
        return Error{std::string("A ") + codec.name + " video in a " + container->name +
                     " file plays at one frame rate, and the source states none (" + s->name + ")."};
    }
    // The usual format; for an odd size, which 4:2:0's blocks of 2x2 pixels
    // do not divide, one with the colour at full resolution. (Chosen ahead:
    // x264 leaks what it parsed when it refuses to open.)
    const AVPixelFormat usual = pixelFormatFor(codec);
    AVPixelFormat format = usual;
    if (subsampledAcrossOddSide(usual, settings.width, settings.height)) {
        format = fullColourFormat(codec, settings.width, settings.height).value_or(usual);
    }
    OpenedCodec opened;
    for (size_t t = 0; t < timeBases.size() && !opened.context; ++t) {
        OpenedCodec attempt = openEncoder(codec, *container, settings, timeBases[t], format);
        if (attempt.context || !opened.error) opened = std::move(attempt);
    }
    if (!opened.context) {
        return s->failure(std::string("start the ") + codec.name + " encoder at " + std::to_string(settings.width) +
                              "x" + std::to_string(settings.height) + " for",
                          opened.error);
    }
    s->codec = std::move(opened.context);
    AVCodecContext& c = *s->codec;
    if (format != usual) {
        s->notes.push_back(std::to_string(c.width) + "x" + std::to_string(c.height) + " has an odd side, which " +
                           av_get_pix_fmt_name(usual) + "'s 2x2 colour blocks do not divide; the video is written in " +
                           av_get_pix_fmt_name(format));
    }

    AVFormatContext* output = nullptr;
    if (const int made = avformat_alloc_output_context2(&output, container, nullptr, nullptr); made < 0) {
        return s->failure("set up", made);
    }
    s->output.reset(output);
    s->video = avformat_new_stream(output, nullptr);
    if (!s->video) return Error{"Out of memory while writing " + s->name + "."};
    if (const int copied = avcodec_parameters_from_context(s->video->codecpar, &c); copied < 0) {
        return s->failure("set up", copied);
    }
    s->video->time_base = c.time_base;
    s->video->avg_frame_rate = c.framerate;
    s->video->sample_aspect_ratio = c.sample_aspect_ratio;

    BgrScaler scaler = makeBgrScaler(settings.width, settings.height, c.pix_fmt, kCodecColorspace);
    if (!scaler) return Error{"Cannot convert frames for the " + std::string(codec.name) + " encoder."};
    s->idleScalers.push_back(std::move(scaler));
    s->direct = BgrToYuv::make(c.pix_fmt, settings.width, settings.height, sws_getCoefficients(kCodecColorspace));

    if (auto audio = s->openAudio(); !audio) return audio.error();
    // FFmpeg writes through the file's descriptor, whatever the name looks like.
    s->file.emplace(std::move(file));
    constexpr int kWriteBuffer = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kWriteBuffer));
    if (!buffer) return Error{"Out of memory while writing " + s->name + "."};
    output->pb = avio_alloc_context(buffer, kWriteBuffer, 1, &*s->file, nullptr, writeToDescriptor,
                                    seekDescriptor);
    if (!output->pb) {
        av_free(buffer);
        return Error{"Out of memory while writing " + s->name + "."};
    }
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (const int header = avformat_write_header(output, nullptr); header < 0) return s->failure("start", header);
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(s)));
}

Result<CodecPicture> VideoEncoder::convert(const BgraImage& image) {
    State& s = *state_;
    const AVCodecContext& c = *s.codec;
    if (!image.pixels || image.width != c.width || image.height != c.height) {
        return Error{"A frame for " + s.name + " is not of the video's size."};
    }
    if (image.bytesPerRow / 4 < size_t(image.width)) {
        return Error{"A frame for " + s.name + " has rows shorter than its width."};
    }
    BgrScaler scaler;
    CodecPicture picture;
    bool direct = false;
    bool check = false;
    {
        std::lock_guard guard(s.convertersMutex);
        direct = s.direct && s.directChecked;
        check = s.direct && !s.directChecked && !s.directChecking;
        s.directChecking = s.directChecking || check;
        if (!direct && !s.idleScalers.empty()) {
            scaler = std::move(s.idleScalers.back());
            s.idleScalers.pop_back();
        }
        if (!s.sparePictures.empty()) {
            picture = std::move(s.sparePictures.back());
            s.sparePictures.pop_back();
        }
    }
    if (!direct && !scaler) scaler = makeBgrScaler(c.width, c.height, c.pix_fmt, kCodecColorspace);
    if (!direct && !scaler) return Error{"Cannot convert frames for the " + codecName() + " encoder."};
    if (!picture) {
        picture.reset(av_frame_alloc());
        if (!picture) return s.failure("convert a frame for", AVERROR(ENOMEM));
        picture->format = c.pix_fmt;
        picture->width = c.width;
        picture->height = c.height;
        if (const int buffered = av_frame_get_buffer(picture.get(), 0); buffered < 0) {
            return s.failure("convert a frame for", buffered);
        }
    } else if (const int writable = av_frame_make_writable(picture.get()); writable < 0) {
        // The encoder still holds the picture: then a fresh buffer is taken.
        return s.failure("convert a frame for", writable);
    }
    if (direct) {
        s.direct->convert(image.pixels, image.bytesPerRow, *picture);
        return picture;
    }
    // Read as BGR0, the alpha unused: the colour is premultiplied, so this is
    // the picture over black, whatever the codec would make of alpha.
    // The image is lent to the scaler by a buffer that frees nothing: a
    // frame without one would be copied whole first.
    AVFramePtr source(av_frame_alloc());
    if (!source) return s.failure("convert a frame for", AVERROR(ENOMEM));
    uint8_t* pixels = const_cast<uint8_t*>(image.pixels);
    source->format = AV_PIX_FMT_BGR0;
    source->width = image.width;
    source->height = image.height;
    source->buf[0] = av_buffer_create(pixels, image.bytesPerRow * size_t(image.height), lentMemory, nullptr,
                                      AV_BUFFER_FLAG_READONLY);
    if (!source->buf[0]) return s.failure("convert a frame for", AVERROR(ENOMEM));
    source->data[0] = pixels;
    source->linesize[0] = int(image.bytesPerRow);
    const int scaled = sws_scale_frame(scaler.get(), picture.get(), source.get());
    {
        std::lock_guard guard(s.convertersMutex);
        s.idleScalers.push_back(std::move(scaler));
    }
    if (scaled < 0) return s.failure("convert a frame for", scaled);
    if (check) s.checkDirect(image, *picture);
    return picture;
}

Result<void> VideoEncoder::encode(CodecPicture picture, CMTime time) {
    State& s = *state_;
    if (!picture) return Error{"No picture to encode for " + s.name + "."};
    if (auto audio = s.copyAudioUntil(time); !audio) return audio;
    // On one tick per frame, two frames nearest the same tick are kept apart.
    int64_t ticks = ticksOf(CMTimeSubtract(time, s.settings.start), s.codec->time_base);
    if (s.lastTicks && ticks <= *s.lastTicks) ticks = *s.lastTicks + 1;
    s.lastTicks = ticks;
    picture->pts = ticks;
    if (const int sent = avcodec_send_frame(s.codec.get(), picture.get()); sent < 0) {
        return s.failure("encode the video of", sent);
    }
    {
        // Enough spares for the pictures converted at once.
        constexpr size_t kMostSpare = 4;
        std::lock_guard guard(s.convertersMutex);
        if (s.sparePictures.size() < kMostSpare) s.sparePictures.push_back(std::move(picture));
    }
    return s.drainPackets();
}

Result<void> VideoEncoder::finish() {
    State& s = *state_;
    if (const int sent = avcodec_send_frame(s.codec.get(), nullptr); sent < 0) return s.failure("finish", sent);
    if (auto drained = s.drainPackets(); !drained) return drained;
    if (auto audio = s.copyAudioUntil(kCMTimePositiveInfinity); !audio) return audio;
    if (const int trailer = av_write_trailer(s.output.get()); trailer < 0) return s.failure("finish", trailer);
    avio_flush(s.output->pb);
    if (s.output->pb->error < 0) return s.failure("write", s.output->pb->error);
    return s.file->commit();
}

Result<void> writePng(AtomicFile file, const BgraImage& image) {
    const std::string name = file.path().string();
    const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!png) return Error{"FFmpeg has no PNG encoder to write " + name + " with."};
    ffmpeg::CodecContextPtr codec(avcodec_alloc_context3(png));
    AVFramePtr frame(av_frame_alloc());
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!codec || !frame || !packet) return Error{"Out of memory while writing " + name + "."};
    codec->width = image.width;
    codec->height = image.height;
    codec->pix_fmt = AV_PIX_FMT_RGBA;
    codec->time_base = AVRational{1, 1};
    if (const int opened = avcodec_open2(codec.get(), png, nullptr); opened < 0) {
        return Error{"Could not start the PNG encoder for " + name + ": " + errorText(opened)};
    }
    frame->format = AV_PIX_FMT_RGBA;
    frame->width = image.width;
    frame->height = image.height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return Error{"Out of memory while writing " + name + "."};
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* in = image.pixels + size_t(y) * image.bytesPerRow;
        uint8_t* out = frame->data[0] + size_t(y) * size_t(frame->linesize[0]);
        for (int32_t x = 0; x < image.width; ++x, in += 4, out += 4) {
            const unsigned a = in[3];
            // PNG keeps colour apart from alpha: undo the premultiplication.
            const auto straight = [a](unsigned c) {
                return uint8_t(a == 0 ? 0 : std::min(255u, (c * 255 + a / 2) / a));
            };
            out[0] = straight(in[2]);
            out[1] = straight(in[1]);
            out[2] = straight(in[0]);
            out[3] = uint8_t(a);
        }
    }
    const int sent = avcodec_send_frame(codec.get(), frame.get());
    const int flushed = sent < 0 ? sent : avcodec_send_frame(codec.get(), nullptr);
    const int received = flushed < 0 ? flushed : avcodec_receive_packet(codec.get(), packet.get());
    if (received < 0) return Error{"Could not encode " + name + " as PNG: " + errorText(received)};

    const std::string_view bytes(reinterpret_cast<const char*>(packet->data), size_t(packet->size));
    if (auto written = file.write(bytes); !written) return written;
    return file.commit();
}

}  // namespace kv
