#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>

#include "host/frame_render.h"
#include "host/program/analysis_summary.h"
#include "host/program/commands.h"
#include "host/program/effect_parameters.h"
#include "host/program/encode_stage.h"
#include "host/program/host_session.h"
#include "host/program/progress_bar.h"
#include "host/program/project_media.h"
#include "host/program/time_text.h"
#include "host/program/undecoded_frames.h"
#include "host/synthetic_clip.h"
#include "host/trimmed_clip.h"
#include "host/video/video_clip.h"
#include "host/video/video_encoder.h"
#include "platform/foundation/atomic_file.h"
#include "platform/foundation/double_text.h"
#include "platform/iosurface/iosurface.h"

namespace kv::host {
namespace {

// 8-bit BGRA: a quarter of the float format's bytes for the effect to write,
// taken by FFmpeg's converter as it is, and all that an 8-bit video keeps.
constexpr OSType kDestinationFormat = kCVPixelFormatType_32BGRA;
// The effect's pictures are 8-bit, so its source frames are too: converted
// straight from the decoder's pictures, each value the byte nearest the
// float an analysis sees, and sampled by the renderer as a GPU samples
// 8-bit textures.
constexpr OSType kSourceFormat = kCVPixelFormatType_32BGRA;
// Frames the effect renders at once.
constexpr size_t kFramesInEffect = 2;
// Rendered frames waiting for the encoder.
constexpr size_t kFramesWaitingToEncode = 2;

// The clip the render reads, as analyze reads it: a video's frames at their
// own times (a frame that cannot be decoded comes without a picture), or the
// built-in synthetic clip; with what the output keeps of it.
struct RenderSource {
    std::unique_ptr<ClipSource> clip;
    // The clip as a video file; null for the synthetic clip.
    const VideoClip* video = nullptr;
    std::string name;
    // Size, time base, rate and audio of the output.
    VideoEncoderSettings format;
};

Result<RenderSource> openSource(const RenderCommand& command, const CommandContext& context) {
    RenderSource source;
    if (command.synthetic) {
        source.clip = std::make_unique<SyntheticClip>();
        source.name = "the synthetic clip";
        source.format.timescale = source.clip->format().frameDuration.timescale;
    } else {
        auto video = VideoClip::open(*command.video, context.interrupted);
        if (!video) return video.error();
        const VideoStreamInfo& info = (*video)->info();
        source.format.timescale = info.timescale;
        source.format.sampleAspectNumerator = info.sampleAspectNumerator;
        source.format.sampleAspectDenominator = info.sampleAspectDenominator;
        source.format.audioSource = *command.video;
        source.video = video->get();
        source.clip = std::move(video).value();
        source.name = *command.video;
    }
    const ClipFormat format = source.clip->format();
    source.format.width = int32_t(format.width);
    source.format.height = int32_t(format.height);
    source.format.frameDuration = format.frameDuration;
    return source;
}

// The pixels of a BGRA surface, read-locked for as long as the view lives.
class BgraView {
public:
    explicit BgraView(IOSurface& surface) : surface_(surface), lock_(surface, IOSurfaceLock::Access::read) {}
    BgraImage image() const {
        return BgraImage{static_cast<const uint8_t*>(surface_.baseAddress()), surface_.bytesPerRow(),
                         int32_t(surface_.width()), int32_t(surface_.height())};
    }

private:
    IOSurface& surface_;
    IOSurfaceLock lock_;
};

// Why the render will show the plain picture throughout; empty when the
// effect has what it needs to reframe.
std::string whyNotReframed(const AnalysisSummary& analysis, const ParameterDocument& document,
                           const std::string& project) {
    switch (analysis.stored) {
        case AnalysisSummary::Stored::nothing:
            return "the project holds no analysis (run analyze first)";
        case AnalysisSummary::Stored::unreadable:
            return "the project's analysis cannot be read (" + analysis.problem + ")";
        case AnalysisSummary::Stored::analysis: break;
    }
    if (analysis.samples == 0) return "the project's analysis holds no motion";
    const auto enable = document.boolCurve(effect_parameter::enable);
    const bool everOn = enable && (enable->constant ||
                                   std::any_of(enable->keys.begin(), enable->keys.end(),
                                               [](const auto& key) { return key.second; }));
    if (!everOn) return "Enable (parameter 70) is off; 'set --project " + project + " 70=true' turns it on";
    return "";
}

// Runs `work`, adding the seconds it took to `seconds`.
template <class Work>
auto timed(double& seconds, Work&& work) {
    const auto begin = std::chrono::steady_clock::now();
    auto result = work();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return result;
}

// The effect's picture of one source frame, as the host renders it: the
// state call, then the render entries.
Result<std::shared_ptr<IOSurface>> renderThroughEffect(FxTileableEffect& effect, const ClipFrame& frame,
                                                       SurfacePool* destinations = nullptr) {
    std::optional<NSData> state;
    NSError error;
    const std::string when = " for the frame at " + secondsText(frame.time) + " failed: ";
    if (!effect.pluginState(&state, frame.time, kFxQuality_HIGH, &error)) {
        return Error{"The effect's state" + when + error.localizedDescription};
    }
    RenderOutcome outcome =
        renderFrame(effect, frame.surface, kDestinationFormat, state, frame.time, FxMatrix44(), destinations);
    if (!outcome.succeeded) return Error{"The effect's render" + when + outcome.error.localizedDescription};
    return outcome.destination;
}

int renderStill(const RenderCommand& command, const CommandContext& context, const RenderSource& source,
                FxTileableEffect& effect, AtomicFile output) {
    // The frame shown at that time, found as analyze finds the start of its range.
    const auto shown = TrimmedClip::make(*source.clip, *command.frame, std::nullopt);
    if (!shown) return reportFailure(context, source.name + " has no frame at " + doubleText(*command.frame) + " s.");
    // A frame whose picture cannot be decoded shows, as in a player and in
    // a rendered video, the last picture before it.
    ClipFrame frame{shown->frameTime(0), nullptr};
    for (int64_t index = shown->firstIndex(); index >= 0 && !frame.surface; --index) {
        frame = ClipFrame{source.clip->frameTime(index),
                          source.clip->frameSurface(index, kSourceFormat)};
    }
    if (!frame.surface) {
        return reportFailure(context, "The frame at " + secondsText(shown->frameTime(0)) + " of " + source.name +
                                          " cannot be decoded, nor any before it.");
    }
    if (CMTimeCompare(frame.time, shown->frameTime(0)) != 0) {
        context.err << kProgramName << ": note: the frame at " << secondsText(shown->frameTime(0))
                    << " cannot be decoded; the picture before it, at " << secondsText(frame.time)
                    << ", is shown in its place\n";
    }
    auto picture = renderThroughEffect(effect, frame);
    if (!picture) return reportFailure(context, picture.error().message);
    const BgraView view(**picture);
    if (auto written = writePng(std::move(output), view.image()); !written) {
        return reportFailure(context, written.error().message);
    }
    context.out << "Rendered the frame at " << secondsText(frame.time) << " of " << source.name << " into "
                << command.output << "\n";
    return 0;
}

int renderVideo(const RenderCommand& command, const CommandContext& context, const RenderSource& source,
                FxTileableEffect& effect, AtomicFile output, RenderTimes* times) {
    // The range as analyze takes it: from the frame shown at the start.
    auto clip = TrimmedClip::make(*source.clip, command.start, command.duration);
    if (!clip) return reportFailure(context, clip.error().message);
    const CMTimeRange range = clip->timeRange();
    VideoEncoderSettings settings = source.format;
    settings.codec = command.codec;
    // A whole render keeps the source's times as they are.
    settings.start = command.start > 0 ? range.start : kCMTimeZero;
    settings.end = CMTimeRangeGetEnd(range);
    // Decoded ahead on a thread of the sequence's own, which starts while
    // the encoder starts: each takes a while before its first frame.
    auto starting =
        std::async(std::launch::async, [&] { return clip->frames(range, kSourceFormat); });
    auto encoder = VideoEncoder::create(std::move(output), settings);
    if (!encoder) return reportFailure(context, encoder.error().message);
    for (const std::string& note : (*encoder)->notes()) context.err << kProgramName << ": note: " << note << "\n";
    auto frames = starting.get();
    if (!frames) return reportFailure(context, frames.error().message);
    std::unique_ptr<FrameSequence> sequence = std::move(frames).value();
    const int64_t frameCount = sequence->count();

    // The effect's pictures go on surfaces reused from frame to frame, one
    // for each frame being rendered and converted for the codec, and one
    // coming back.
    const auto pictures = SurfacePool::make(settings.width, settings.height, kDestinationFormat,
                                            kFramesInEffect + 1, IOSurface::Contents::uncleared);

    ProgressBar bar(context.err, context.showProgress, "Rendering");
    RenderTimes spent;
    int64_t undecoded = 0;
    std::optional<CMTime> first;
    std::optional<CMTime> last;
    const auto fail = [&](const std::string& message) {
        bar.finish();
        const bool ended = !message.empty() && message.back() == '.';
        return reportFailure(context, message + (ended ? "" : ".") + " Nothing was written.");
    };
    // The stages overlap: frames decode ahead, the effect renders up to
    // kFramesInEffect frames at once (as the editing host renders several
    // frames on its own threads), and the encoder takes the rendered frames
    // in frame order on a thread of its own, never waiting for this loop.
    struct Rendered {
        CMTime time;
        Result<CodecPicture> picture;
        double seconds = 0;
    };
    std::deque<std::future<Rendered>> rendering;
    EncodeStage encoding(**encoder, kFramesWaitingToEncode);
    // Hands the oldest rendered frame to the encoder; an error ends the render.
    const auto encodeOldest = [&]() -> std::optional<std::string> {
        Rendered rendered = rendering.front().get();
        rendering.pop_front();
        spent.effectSeconds += rendered.seconds;
        if (!rendered.picture) return rendered.picture.error().message;
        if (auto queued = encoding.push(rendered.time, std::move(rendered.picture).value()); !queued) {
            return queued.error().message;
        }
        ++spent.frames;
        bar.update(spent.frames + undecoded, std::max(frameCount, spent.frames + undecoded));
        return std::nullopt;
    };
    for (;;) {
        auto frame = sequence->next();
        if (!frame) {
            return fail("Decoding stopped after " + std::to_string(spent.frames) + " frames: " + frame.error().message);
        }
        if (!*frame) {
            // The decoding is over: its threads and pictures are let go of
            // while the last frames render and encode.
            spent.decodeSeconds = sequence->decodingSeconds();
            sequence.reset();
            break;
        }
        // A frame the file holds but whose picture cannot be decoded is left
        // out: a player shows the picture before it for its time.
        if (!(*frame)->surface) {
            ++undecoded;
            continue;
        }
        const CMTime time = (*frame)->time;
        if (!first) first = time;
        last = time;
        // The picture is converted for the codec on the thread that rendered
        // it, so that the encoder's thread only encodes.
        rendering.push_back(std::async(std::launch::async, [&, input = std::move(**frame)] {
            Rendered rendered{input.time, Error{}};
            rendered.picture = timed(rendered.seconds, [&]() -> Result<CodecPicture> {
                auto picture = renderThroughEffect(effect, input, pictures.get());
                if (!picture) return picture.error();
                const BgraView view(**picture);
                return (*encoder)->convert(view.image());
            });
            return rendered;
        }));
        if (rendering.size() < kFramesInEffect) continue;
        if (auto failed = encodeOldest()) return fail(*failed);
        if (context.interrupted()) {
            bar.finish();
            context.err << kProgramName << ": stopped after " << spent.frames << " frames; nothing was written\n";
            return 130;
        }
    }
    while (!rendering.empty()) {
        if (auto failed = encodeOldest()) return fail(*failed);
    }
    if (auto encoded = encoding.finish(); !encoded) return fail(encoded.error().message);
    spent.encodeSeconds += encoding.seconds();
    if (!first) return reportFailure(context, "The range holds no frame of " + source.name + " that can be decoded.");
    // Counted and judged as analyze does.
    const UndecodedFrames lost =
        countUndecodedFrames(source.video, *clip, command.duration, spent.frames + undecoded, undecoded);
    if (lost.mostOfTheRange()) {
        return fail("Most of the range of " + source.name + " could not be decoded: " + lost.text() + ".");
    }
    const auto finished = timed(spent.encodeSeconds, [&] { return (*encoder)->finish(); });
    bar.finish();
    if (!finished) return reportFailure(context, finished.error().message);
    if (times) *times = spent;
    if (lost.count() > 0) {
        context.err << kProgramName << ": warning: " << lost.text()
                    << (lost.withoutPicture > 0 ? "; the picture before each was shown in its place" : "")
                    << (lost.pastTheData > 0 ? "; the video ends where the data ends" : "") << "\n";
    }
    context.out << "Rendered " << spent.frames << " frames (" << secondsText(*first) << " to " << secondsText(*last)
                << ") of " << source.name << " into " << command.output << " (" << (*encoder)->codecName() << ")\n";
    return 0;
}

// The same file under two names, as far as the file system can tell.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code code;
    return std::filesystem::equivalent(a, b, code);
}

}  // namespace

int runCommand(const RenderCommand& command, const CommandContext& context, RenderTimes* times) {
    if ((command.video && sameFile(command.output, *command.video)) || sameFile(command.output, command.project)) {
        return reportFailure(context, "The output " + command.output + " would replace the render's own input.");
    }
    // Refused before any work when the output may not be replaced.
    auto output = AtomicFile::open(command.output);
    if (!output) return reportFailure(context, output.error().message);
    auto source = openSource(command, context);
    if (!source) return reportFailure(context, source.error().message);
    auto opened = HostSession::open(command.project);
    if (!opened) return reportFailure(context, opened.error().message);
    HostSession& session = **opened;
    const AnalysisSummary analysis = summarizeAnalysis(session.document());
    if (auto same = checkProjectMedia(command.project, session.project().header(), session.document(),
                                      mediaName(command.video), source->format.width, source->format.height);
        !same) {
        return reportFailure(context, same.error().message + " Analyze it into a project of its own.");
    }
    FxTileableEffect* effect = session.instance().effect();
    if (!effect) return reportFailure(context, "The effect cannot render.");
    if (const std::string why = whyNotReframed(analysis, session.document(), command.project); !why.empty()) {
        context.err << kProgramName << ": note: nothing is reframed: " << why << "\n";
    }
    return command.frame ? renderStill(command, context, *source, *effect, std::move(output).value())
                         : renderVideo(command, context, *source, *effect, std::move(output).value(), times);
}

}  // namespace kv::host
