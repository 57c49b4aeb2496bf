#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <new>
#include <numeric>
#include <optional>

#include "host/program/commands.h"
#include "host/program/effect_parameters.h"
#include "host/program/host_session.h"
#include "host/program/progress_bar.h"
#include "host/program/project_media.h"
#include "host/program/time_text.h"
#include "host/program/undecoded_frames.h"
#include "host/synthetic_clip.h"
#include "host/trimmed_clip.h"
#include "host/video/video_clip.h"

namespace kv::host {
namespace {

constexpr int kStoppedStatus = 130;

// The effect placed over the whole of `clip` on a time line of its rate.
EffectTiming timingOver(const ClipSource& clip) {
    const ClipFormat format = clip.format();
    EffectTiming timing;
    timing.startTime = clip.timeRange().start;
    timing.duration = clip.timeRange().duration;
    timing.frameDuration = format.frameDuration;
    const int64_t value = format.frameDuration.value;
    const int64_t scale = format.frameDuration.timescale;
    const int64_t common = std::gcd(value, scale);
    if (common > 0 && value / common <= UINT32_MAX) {
        timing.timelineFpsNumerator = uint32_t(scale / common);
        timing.timelineFpsDenominator = uint32_t(value / common);
    }
    return timing;
}

std::string rangeText(const CMTimeRange& range) {
    return secondsText(range.start) + " to " + secondsText(CMTimeRangeGetEnd(range));
}

int analyze(const AnalyzeCommand& command, const CommandContext& context) {
    auto stoppedBeforeTheRun = [&] {
        context.err << kProgramName << ": stopped before the analysis started; the project is unchanged\n";
        return kStoppedStatus;
    };
    std::unique_ptr<ClipSource> source;
    const VideoClip* video = nullptr;
    const std::string media = mediaName(command.video);
    if (command.synthetic) {
        source = std::make_unique<SyntheticClip>();
    } else {
        auto opened = VideoClip::open(*command.video, context.interrupted);
        if (context.interrupted()) return stoppedBeforeTheRun();
        if (!opened) return reportFailure(context, opened.error().message);
        video = opened->get();
        source = std::move(opened).value();
    }
    auto clip = TrimmedClip::make(*source, command.start, command.duration);
    if (!clip) return reportFailure(context, clip.error().message);
    const ClipFormat format = clip->format();

    if (context.interrupted()) return stoppedBeforeTheRun();
    const ProjectHeader header{kEffectClassName, media, timingOver(*clip)};
    auto opened = HostSession::openToWrite(command.project, "analyze", &header);
    if (!opened) return reportFailure(context, opened.error().message);
    // A large project takes a while to load: a Ctrl-C meanwhile stops here.
    if (context.interrupted()) return stoppedBeforeTheRun();
    HostSession& session = **opened;
    ProjectFile& project = session.project();
    if (command.fresh) {
        clearStoredAnalysis(session.document());
    } else if (auto same = checkAnalysisToContinue(project.path(), project.header(), session.document(), media,
                                                   format.width, format.height);
               !same) {
        return reportFailure(context, same.error().message + " Use another project, or --fresh to replace its analysis.");
    }
    session.setHeader(header);

    if (!session.instance().pressButton(effect_parameter::analyzeButton)) {
        return reportFailure(context, "The effect did not respond to its \"Analyze Clip\" button.");
    }
    ProgressBar bar(context.err, context.showProgress, "Analyzing");
    std::optional<Error> saveError;
    bool stopped = false;
    AnalysisRunOptions options;
    // Each frame is one call of the effect: what it stored during the call
    // is taken for saving before the next frame, and written while the
    // analysis goes on.
    options.afterFrame = [&](int64_t fed, int64_t total) {
        bar.update(fed, total);
        if (auto saved = project.saveChangesInBackground(); !saved) {
            saveError = saved.error();
            return false;
        }
        stopped = context.interrupted();
        return !stopped;
    };
    const AnalysisRun run = session.instance().runRequestedAnalysis(*clip, options);
    bar.finish();
    if (!run.started) {
        return reportFailure(context, "The effect did not ask the host to analyze the clip (see the log, --verbose).");
    }
    // A clip that could not even begin leaves the project as it was.
    const bool began = !run.frameTimes.empty() || !run.sourceError;
    if (!saveError && began) {
        if (auto saved = project.saveChanges(); !saved) saveError = saved.error();
    }
    if (saveError) return reportFailure(context, saveError->message);

    const int64_t handed = int64_t(run.frameTimes.size());
    const std::string done = std::to_string(handed) + " of " + std::to_string(format.frameCount) + " frames";
    if (run.sourceError) {
        if (!began) return reportFailure(context, run.sourceError->message + " The project is unchanged.");
        return reportFailure(context, "Decoding stopped after " + done + ": " + run.sourceError->message +
                                          " The analysis of the frames before is saved.");
    }
    if (run.error) return reportFailure(context, "The analysis failed: " + run.error->localizedDescription);
    if (stopped) {
        context.err << kProgramName << ": stopped after " << done << "; the analysis so far is saved\n";
        return kStoppedStatus;
    }
    const int64_t pictures = handed - run.absentFrames;
    context.out << "Analyzed " << pictures << " frames (" << rangeText(clip->timeRange()) << ") of " << media
                << " into " << project.path().string() << "\n";

    const UndecodedFrames undecoded =
        countUndecodedFrames(video, *clip, command.duration, handed, run.absentFrames);
    if (undecoded.count() == 0) return 0;
    const std::string lack = undecoded.text();
    if (undecoded.mostOfTheRange()) {
        return reportFailure(context, "Most of the range of " + media + " could not be decoded: " + lack +
                                          ". The analysis of the others is saved.");
    }
    context.err << kProgramName << ": warning: " << lack << "; the effect was told they are missing\n";
    return 0;
}

}  // namespace

int runCommand(const AnalyzeCommand& command, const CommandContext& context) {
    try {
        return analyze(command, context);
    } catch (const std::bad_alloc&) {
        return reportFailure(context, "Out of memory: the analysis stopped; the project keeps what was saved before.");
    }
}

}  // namespace kv::host
