#include <algorithm>
#include <chrono>
#include <deque>
#include <cmath>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>

#include "host/frame_render.h"
#include "host/program/analysis_summary.h"
#include "host/program/commands.h"
#include "host/program/host_session.h"
#include "host/program/progress_bar.h"
#include "host/program/project_media.h"
#include "host/program/time_text.h"
#include "host/synthetic_clip.h"
#include "host/video/video_decoder.h"
#include "host/video/video_encoder.h"
#include "platform/foundation/double_text.h"

namespace kv::host {
namespace {

constexpr uint32_t kEnableParameter = 70;
// 8-bit BGRA: a quarter of the float format's bytes for the effect to write,
// taken by FFmpeg's converter as it is, and all that an 8-bit video keeps.
constexpr OSType kDestinationFormat = kCVPixelFormatType_32BGRA;
// Frames the effect renders at once.
constexpr size_t kFramesInEffect = 2;
// Frame times on the command line are turned into this timescale.
constexpr int32_t kSecondsTimescale = 1'000'000;

CMTime secondsTime(double seconds) { return CMTimeMakeWithSeconds(seconds, kSecondsTimescale); }

struct SourceFrame {
    CMTime time;
    std::shared_ptr<IOSurface> surface;  // 'RGfA', the frame's size
};

// Where the render's frames come from, in presentation order, each at its
// own time: a video's decoded frames, or the synthetic clip's.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // From now on only the frames whose times lie in `range`.
    virtual Result<void> setRange(CMTimeRange range) = 0;
    // The next frame; none after the last.
    virtual Result<std::optional<SourceFrame>> next() = 0;
    // Frames passed over as damaged so far.
    virtual int64_t skippedFrames() const { return 0; }

    std::string name;
    // Size, time base, rate and audio of the output.
    VideoEncoderSettings format;
    CMTime startTime = kCMTimeZero;  // the first frame's time
    std::optional<int64_t> frameCount;
};

class VideoFrames final : public FrameSource {
public:
    explicit VideoFrames(std::unique_ptr<VideoDecoder> decoder, std::string path) : decoder_(std::move(decoder)) {
        const VideoStreamInfo& info = decoder_->info();
        name = path;
        format.width = info.width;
        format.height = info.height;
        format.timescale = info.timescale;
        format.frameDuration = info.frameDuration;
        format.sampleAspectNumerator = info.sampleAspectNumerator;
        format.sampleAspectDenominator = info.sampleAspectDenominator;
        format.audioSource = path;
        startTime = info.startTime;
        frameCount = info.frameCount;
    }

    Result<void> setRange(CMTimeRange range) override { return decoder_->setTimeRange(range); }
    int64_t skippedFrames() const override { return decoder_->skippedFrames(); }

    Result<std::optional<SourceFrame>> next() override {
        std::shared_ptr<IOSurface> surface = freeSurface();
        if (!surface) return Error{"No surface for the frames of " + name + "."};
        surface->lockWithOptions(0, nullptr);
        auto time = decoder_->readFrame(static_cast<float*>(surface->baseAddress()), surface->bytesPerRow());
        surface->unlockWithOptions(0, nullptr);
        if (!time) return time.error();
        if (!*time) return std::optional<SourceFrame>();
        return std::optional<SourceFrame>(SourceFrame{**time, std::move(surface)});
    }

private:
    // A surface that no frame handed out still holds, or a new one: frames
    // are decoded into the same few surfaces over and over.
    std::shared_ptr<IOSurface> freeSurface() {
        for (const auto& surface : surfaces_) {
            if (surface.use_count() == 1) return surface;
        }
        auto surface = IOSurface::create(format.width, format.height, kCVPixelFormatType_128RGBAFloat);
        if (surface) surfaces_.push_back(surface);
        return surface;
    }

    std::unique_ptr<VideoDecoder> decoder_;
    std::vector<std::shared_ptr<IOSurface>> surfaces_;
};

class SyntheticFrames final : public FrameSource {
public:
    SyntheticFrames() {
        const ClipFormat f = clip_.format();
        name = "the synthetic clip";
        format.width = int32_t(f.width);
        format.height = int32_t(f.height);
        format.timescale = f.frameDuration.timescale;
        format.frameDuration = f.frameDuration;
        startTime = f.startTime;
        frameCount = f.frameCount;
    }

    Result<void> setRange(CMTimeRange range) override {
        range_ = range;
        index_ = 0;
        return {};
    }

    Result<std::optional<SourceFrame>> next() override {
        for (; index_ < *frameCount; ++index_) {
            const CMTime step = format.frameDuration;
            const CMTime time = CMTimeAdd(startTime, CMTimeMake(index_ * step.value, step.timescale));
            if (CMTimeCompare(time, range_.start) < 0) continue;
            if (CMTimeCompare(time, CMTimeRangeGetEnd(range_)) >= 0) break;
            auto surface = makeFrameSurface(clip_.frame(index_++), kCVPixelFormatType_128RGBAFloat);
            if (!surface) return Error{"No surface for the frames of " + name + "."};
            return std::optional<SourceFrame>(SourceFrame{time, std::move(surface)});
        }
        return std::optional<SourceFrame>();
    }

private:
    SyntheticClip clip_;
    CMTimeRange range_{kCMTimeZero, kCMTimePositiveInfinity};
    int64_t index_ = 0;
};

Result<std::unique_ptr<FrameSource>> openSource(const RenderCommand& command) {
    if (command.synthetic) return std::unique_ptr<FrameSource>(std::make_unique<SyntheticFrames>());
    auto decoder = VideoDecoder::open(*command.video);
    if (!decoder) return decoder.error();
    return std::unique_ptr<FrameSource>(std::make_unique<VideoFrames>(std::move(decoder).value(), *command.video));
}

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
    const auto enable = document.boolCurve(kEnableParameter);
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
Result<std::shared_ptr<IOSurface>> renderThroughEffect(FxTileableEffect& effect, const SourceFrame& frame) {
    std::optional<NSData> state;
    NSError error;
    const std::string when = " for the frame at " + secondsText(frame.time) + " failed: ";
    if (!effect.pluginState(&state, frame.time, kFxQuality_HIGH, &error)) {
        return Error{"The effect's state" + when + error.localizedDescription};
    }
    RenderOutcome outcome = renderFrame(effect, frame.surface, kDestinationFormat, state, frame.time);
    if (!outcome.succeeded) return Error{"The effect's render" + when + outcome.error.localizedDescription};
    return outcome.destination;
}

// The surface's pixels, read-locked for as long as the view lives.
class BgraView {
public:
    explicit BgraView(IOSurface& surface) : surface_(surface) {
        surface_.lockWithOptions(kIOSurfaceLockReadOnly, nullptr);
    }
    ~BgraView() { surface_.unlockWithOptions(kIOSurfaceLockReadOnly, nullptr); }
    BgraImage image() const {
        return BgraImage{static_cast<const uint8_t*>(surface_.baseAddress()), surface_.bytesPerRow(),
                         int32_t(surface_.width()), int32_t(surface_.height())};
    }

private:
    IOSurface& surface_;
};

// The frame shown at `at`: the last one at or before it (the first frame
// for a time before it). Looks a second back first, then from the start.
Result<std::optional<SourceFrame>> frameShownAt(FrameSource& source, CMTime at) {
    for (const CMTime from : {CMTimeSubtract(at, secondsTime(1)), source.startTime}) {
        const bool fromStart = CMTimeCompare(from, source.startTime) <= 0;
        const CMTime begin = fromStart ? source.startTime : from;
        if (auto set = source.setRange(CMTimeRangeMake(begin, kCMTimePositiveInfinity)); !set) return set.error();
        std::optional<SourceFrame> shown;
        for (;;) {
            auto frame = source.next();
            if (!frame) return frame.error();
            if (!*frame) break;
            if (CMTimeCompare((*frame)->time, at) > 0) {
                if (!shown && fromStart) shown = std::move(*frame);
                break;
            }
            shown = std::move(*frame);
        }
        if (shown || fromStart) return shown;
    }
    return std::optional<SourceFrame>();
}

int renderStill(const RenderCommand& command, const CommandContext& context, FrameSource& source,
                FxTileableEffect& effect) {
    if (*command.frame < 0) return reportFailure(context, "--frame needs a time of 0 s or later.");
    if (auto writable = checkWritable(command.output); !writable) {
        return reportFailure(context, writable.error().message);
    }
    const CMTime at = CMTimeAdd(source.startTime, secondsTime(*command.frame));
    auto frame = frameShownAt(source, at);
    if (!frame) return reportFailure(context, frame.error().message);
    if (!*frame) return reportFailure(context, source.name + " has no frame at " + doubleText(*command.frame) + " s.");
    auto picture = renderThroughEffect(effect, **frame);
    if (!picture) return reportFailure(context, picture.error().message);
    const BgraView view(**picture);
    if (auto written = writePng(command.output, view.image()); !written) {
        return reportFailure(context, written.error().message);
    }
    context.out << "Rendered the frame at " << secondsText((*frame)->time) << " of " << source.name << " into "
                << command.output << "\n";
    return 0;
}

int renderVideo(const RenderCommand& command, const CommandContext& context, FrameSource& source,
                FxTileableEffect& effect, RenderTimes* times) {
    if (command.start < 0) return reportFailure(context, "--start needs a time of 0 s or later.");
    if (command.duration && !(*command.duration > 0)) {
        return reportFailure(context, "--duration needs a positive number of seconds.");
    }
    const CMTime start = CMTimeAdd(source.startTime, secondsTime(command.start));
    const CMTime duration = command.duration ? secondsTime(*command.duration) : kCMTimePositiveInfinity;
    VideoEncoderSettings settings = source.format;
    settings.codec = command.codec;
    // A whole render keeps the source's times as they are.
    settings.start = command.start > 0 ? start : kCMTimeZero;
    settings.end = CMTimeRangeGetEnd(CMTimeRangeMake(start, duration));
    auto encoder = VideoEncoder::create(command.output, settings);
    if (!encoder) return reportFailure(context, encoder.error().message);
    if (!(*encoder)->audioNote().empty()) context.err << kProgramName << ": note: " << (*encoder)->audioNote() << "\n";
    if (auto set = source.setRange(CMTimeRangeMake(start, duration)); !set) {
        return reportFailure(context, set.error().message);
    }

    // The bar's total is the frames the rate and length promise.
    int64_t expected = source.frameCount.value_or(0);
    if (CMTimeIsNumeric(source.format.frameDuration) && source.format.frameDuration.value > 0) {
        const double step = CMTimeGetSeconds(source.format.frameDuration);
        expected = std::max<int64_t>(0, expected - int64_t(std::llround(command.start / step)));
        if (command.duration) expected = std::min(expected, int64_t(std::ceil(*command.duration / step - 1e-9)));
    }
    ProgressBar bar(context.err, context.showProgress, "Rendering");
    RenderTimes spent;
    std::optional<CMTime> first;
    std::optional<CMTime> last;
    const auto fail = [&](const std::string& message) {
        bar.finish();
        return reportFailure(context, message + " Nothing was written.");
    };
    // The stages overlap: the next frame decodes, the effect renders up to
    // kFramesInEffect frames at once (as the editing host renders several
    // frames on its own threads), and the frame before encodes. The decoder
    // and the encoder are called from one task at a time, in frame order.
    const auto decodeNext = [&] { return timed(spent.decodeSeconds, [&] { return source.next(); }); };
    auto decoding = std::async(std::launch::async, decodeNext);
    struct Rendered {
        CMTime time;
        Result<std::shared_ptr<IOSurface>> picture;
        double seconds = 0;
    };
    std::deque<std::future<Rendered>> rendering;
    std::future<Result<void>> encoding;
    // Hands the oldest rendered frame to the encoder; an error ends the render.
    const auto encodeOldest = [&]() -> std::optional<std::string> {
        Rendered rendered = rendering.front().get();
        rendering.pop_front();
        spent.effectSeconds += rendered.seconds;
        if (!rendered.picture) return rendered.picture.error().message;
        if (encoding.valid()) {
            if (auto encoded = encoding.get(); !encoded) return encoded.error().message;
        }
        auto surface = std::move(rendered.picture).value();
        encoding = std::async(std::launch::async, [&, surface = std::move(surface), time = rendered.time] {
            return timed(spent.encodeSeconds, [&] {
                const BgraView view(*surface);
                return (*encoder)->encode(view.image(), time);
            });
        });
        ++spent.frames;
        bar.update(spent.frames, std::max(expected, spent.frames));
        return std::nullopt;
    };
    for (;;) {
        auto frame = decoding.get();
        if (!frame) {
            return fail("Decoding stopped after " + std::to_string(spent.frames) + " frames: " + frame.error().message);
        }
        if (!*frame) break;
        decoding = std::async(std::launch::async, decodeNext);
        const CMTime time = (*frame)->time;
        if (!first) first = time;
        last = time;
        rendering.push_back(std::async(std::launch::async, [&effect, input = std::move(**frame)] {
            Rendered rendered{input.time, Error{}};
            rendered.picture = timed(rendered.seconds, [&] { return renderThroughEffect(effect, input); });
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
    if (encoding.valid()) {
        if (auto encoded = encoding.get(); !encoded) return fail(encoded.error().message);
    }
    if (!first) return reportFailure(context, "The range holds no frame of " + source.name + ".");
    const auto finished = timed(spent.encodeSeconds, [&] { return (*encoder)->finish(); });
    bar.finish();
    if (!finished) return reportFailure(context, finished.error().message);
    if (times) *times = spent;
    // As analyze reports them; a player shows the picture before each.
    if (const int64_t skipped = source.skippedFrames(); skipped > 0) {
        context.err << kProgramName << ": warning: " << skipped
                    << " frame(s) could not be decoded; the picture before each was shown in its place\n";
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
    auto source = openSource(command);
    if (!source) return reportFailure(context, source.error().message);
    auto opened = HostSession::open(command.project);
    if (!opened) return reportFailure(context, opened.error().message);
    HostSession& session = **opened;
    const AnalysisSummary analysis = summarizeAnalysis(session.document());
    const FrameSource& frames = **source;
    if (auto same = checkProjectMedia(command.project, session.project().header(), session.document(),
                                      mediaName(command.video), frames.format.width, frames.format.height);
        !same) {
        return reportFailure(context, same.error().message + " Analyze it into a project of its own.");
    }
    FxTileableEffect* effect = session.instance().effect();
    if (!effect) return reportFailure(context, "The effect cannot render.");
    if (const std::string why = whyNotReframed(analysis, session.document(), command.project); !why.empty()) {
        context.err << kProgramName << ": note: nothing is reframed: " << why << "\n";
    }
    return command.frame ? renderStill(command, context, **source, *effect)
                         : renderVideo(command, context, **source, *effect, times);
}

}  // namespace kv::host
