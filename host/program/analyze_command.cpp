#include <filesystem>
#include <memory>
#include <numeric>
#include <optional>

#include "host/program/commands.h"
#include "host/program/host_session.h"
#include "host/program/progress_bar.h"
#include "host/program/time_text.h"
#include "host/synthetic_clip.h"
#include "host/trimmed_clip.h"
#include "host/video/video_clip.h"

namespace kv::host {
namespace {

// The effect's "Analyze Clip" button.
constexpr uint32_t kAnalyzeButton = 10;
constexpr const char* kSyntheticMedia = "synthetic clip";

// The effect placed over the whole of `clip` on a time line of its rate.
EffectTiming timingOver(const ClipFormat& clip) {
    EffectTiming timing;
    timing.startTime = clip.startTime;
    timing.duration = clipTimeRange(clip).duration;
    timing.frameDuration = clip.frameDuration;
    const int64_t value = clip.frameDuration.value;
    const int64_t scale = clip.frameDuration.timescale;
    const int64_t common = std::gcd(value, scale);
    if (common > 0 && value / common <= UINT32_MAX) {
        timing.timelineFpsNumerator = uint32_t(scale / common);
        timing.timelineFpsDenominator = uint32_t(value / common);
    }
    return timing;
}

std::string rangeText(const ClipFormat& clip) {
    const CMTimeRange range = clipTimeRange(clip);
    return secondsText(range.start) + " to " + secondsText(CMTimeRangeGetEnd(range));
}

}  // namespace

int runCommand(const AnalyzeCommand& command, const CommandContext& context) {
    std::unique_ptr<ClipSource> source;
    const VideoClip* video = nullptr;
    std::string media = kSyntheticMedia;
    if (command.synthetic) {
        source = std::make_unique<SyntheticClip>();
    } else {
        auto opened = VideoClip::open(*command.video);
        if (!opened) return reportFailure(context, opened.error().message);
        video = opened->get();
        source = std::move(opened).value();
        std::error_code code;
        media = std::filesystem::absolute(*command.video, code).string();
    }
    auto clip = TrimmedClip::make(*source, command.start, command.duration);
    if (!clip) return reportFailure(context, clip.error().message);
    const ClipFormat format = clip->format();

    const ProjectHeader header{kEffectClassName, media, timingOver(format)};
    auto opened = HostSession::open(command.project, &header);
    if (!opened) return reportFailure(context, opened.error().message);
    HostSession& session = **opened;
    session.setHeader(header);
    ProjectFile& project = session.project();

    if (!session.instance().pressButton(kAnalyzeButton)) {
        return reportFailure(context, "The effect did not respond to its \"Analyze Clip\" button.");
    }
    ProgressBar bar(context.err, context.showProgress, "Analyzing");
    std::optional<Error> saveError;
    bool stopped = false;
    AnalysisRunOptions options;
    // Each frame is one call of the effect: what it stored during the call
    // is saved before the next frame.
    options.afterFrame = [&](int64_t fed, int64_t total) {
        bar.update(fed, total);
        if (auto saved = project.saveChanges(); !saved) {
            saveError = saved.error();
            return false;
        }
        if (video && video->error()) return false;
        stopped = context.interrupted();
        return !stopped;
    };
    const AnalysisRun run = session.instance().runRequestedAnalysis(*clip, options);
    bar.finish();
    if (!saveError) {
        if (auto saved = project.saveChanges(); !saved) saveError = saved.error();
    }

    if (!run.started) {
        return reportFailure(context, "The effect did not ask the host to analyze the clip (see the log, --verbose).");
    }
    if (saveError) return reportFailure(context, saveError->message);
    if (video && video->repeatedFrames() > 0) {
        context.err << kProgramName << ": warning: " << video->repeatedFrames()
                    << " frame(s) could not be decoded; the picture before each was used in its place\n";
    }
    const std::string done = std::to_string(run.frameTimes.size()) + " of " + std::to_string(format.frameCount) +
                             " frames";
    if (video && video->error()) {
        return reportFailure(context, "Decoding stopped after " + done + ": " + video->error()->message +
                                          " The analysis of the frames before is saved.");
    }
    if (run.error) return reportFailure(context, "The analysis failed: " + run.error->localizedDescription);
    if (stopped) {
        context.err << kProgramName << ": stopped after " << done << "; the analysis so far is saved\n";
        return 130;
    }
    context.out << "Analyzed " << format.frameCount << " frames (" << rangeText(format) << ") of " << media
                << " into " << project.path().string() << "\n";
    return 0;
}

}  // namespace kv::host
