// Analyses of real footage through the program, as a user runs them.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "host/program/commands.h"
#include "platform/foundation/double_text.h"
#include "tests/host/program/program_test_support.h"
#include "tests/support/quiet_spawn.h"

namespace kv::testing {
namespace {

// cup.mp4: 640x480 at 26.777 fps, frames 1000 ticks of 1/26777 s apart.
constexpr int64_t kTicksPerFrame = 1000;
constexpr int32_t kTimescale = 26777;
constexpr double kFrameSeconds = double(kTicksPerFrame) / kTimescale;

// Seconds as the command line takes them, to the last bit.
std::string seconds(int64_t frames) { return doubleText(double(frames) * kFrameSeconds); }

// The frame number of a sample's time; a fraction for a time off the frames.
double frameOf(CMTime time) {
    const int64_t ticks = time.value * kTimescale;
    if (ticks % time.timescale != 0) return -0.5;
    return double(ticks / time.timescale) / double(kTicksPerFrame);
}

ProgramResult analyzeFrames(const std::filesystem::path& project, int64_t first, int64_t count) {
    return runInProcess({"analyze", footage("cup.mp4").string(), "-p", project.string(), "--start", seconds(first),
                         "--duration", seconds(count)});
}

// A stored analysis of the cup clip whose samples lie on every fifth frame
// of a run that began at frame `runStart`, with boxes inside the image.
void expectSane(const StoredAnalysis& stored, int64_t runStart) {
    EXPECT_TRUE(stored.hashMatches);
    EXPECT_EQ(stored.analysis.imageWidth, 640);
    EXPECT_EQ(stored.analysis.imageHeight, 480);
    for (const MotionBounds& sample : stored.analysis.motionBounds) {
        const double frame = frameOf(sample.time);
        EXPECT_EQ(std::fmod(frame - double(runStart), 5.0), 0.0) << "sample at frame " << frame;
        for (const Bounds& b : sample.bounds) {
            EXPECT_TRUE(0 <= b.minX && b.minX <= b.maxX && b.maxX <= 1) << frame;
            EXPECT_TRUE(0 <= b.minY && b.minY <= b.maxY && b.maxY <= 1) << frame;
            EXPECT_GT(b.count, 0) << frame;
        }
    }
}

std::vector<double> sampleFrames(const MotionAnalysis& analysis) {
    std::vector<double> frames;
    for (const MotionBounds& sample : analysis.motionBounds) frames.push_back(frameOf(sample.time));
    return frames;
}

TEST(AnalysisEndToEndTest, ARealClipGetsASaneAnalysisSampledEveryFifthFrame) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    ScratchDirectory scratch;
    const auto project = scratch.file("cup.json");
    const ProgramResult result = analyzeFrames(project, 0, 45);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Analyzed 45 frames"), std::string::npos) << result.out;

    const auto stored = storedAnalysis(project);
    ASSERT_TRUE(stored);
    expectSane(*stored, 0);
    const std::vector<double> frames = sampleFrames(stored->analysis);
    ASSERT_FALSE(frames.empty());
    EXPECT_GE(frames.front(), 5.0);
    EXPECT_LE(frames.back(), 40.0);
    EXPECT_EQ(stored->analysis.motionBounds.front().time.timescale, kTimescale) << "times in the stream's own ticks";

    const ProgramResult info = runInProcess({"info", "-p", project.string()});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Analysis:   640x480, " + std::to_string(frames.size()) + " samples"), std::string::npos)
        << info.out;
    EXPECT_NE(info.out.find("Hash:       matches the stored data"), std::string::npos) << info.out;
}

TEST(AnalysisEndToEndTest, AnalysingPartOfTheClipAgainKeepsTheSamplesOutsideIt) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    ScratchDirectory scratch;
    const auto project = scratch.file("cup.json");
    ASSERT_EQ(analyzeFrames(project, 0, 60).status, 0);
    const auto whole = storedAnalysis(project);
    ASSERT_TRUE(whole);

    const ProgramResult again = analyzeFrames(project, 22, 18);  // frames 22 to 39
    ASSERT_EQ(again.status, 0) << again.err;
    const auto mixed = storedAnalysis(project);
    ASSERT_TRUE(mixed);
    EXPECT_TRUE(mixed->hashMatches);
    std::vector<MotionBounds> outside;
    std::vector<double> inside;
    for (const MotionBounds& sample : mixed->analysis.motionBounds) {
        const double frame = frameOf(sample.time);
        if (frame < 22 || frame >= 40) {  // the range is [22, 40)
            outside.push_back(sample);
        } else {
            inside.push_back(frame);
        }
    }
    std::vector<MotionBounds> expectedOutside;
    for (const MotionBounds& sample : whole->analysis.motionBounds) {
        const double frame = frameOf(sample.time);
        if (frame < 22 || frame >= 40) expectedOutside.push_back(sample);
    }
    EXPECT_EQ(outside, expectedOutside);
    // The second run samples its own fifth frames: 27, 32, 37.
    for (double frame : inside) EXPECT_EQ(std::fmod(frame - 22, 5.0), 0.0) << frame;
}

// Starts the program with its output thrown away.
pid_t startProgram(const std::vector<std::string>& arguments) { return spawnQuietly(KV_HOST_PROGRAM, arguments); }

// Waits until the program has put analysis data into the project (true) or
// has ended before it did (false, `exited`).
bool waitForFirstSave(pid_t child, const std::filesystem::path& project, bool& exited) {
    bool saved = false;
    exited = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!saved && !exited && std::chrono::steady_clock::now() < deadline) {
        saved = std::filesystem::exists(project) && readBytes(project).find("\"AnalysisData\"") != std::string::npos;
        int status = 0;
        exited = !saved && waitpid(child, &status, WNOHANG) == child;
        if (!saved && !exited) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return saved;
}

TEST(AnalysisEndToEndTest, AProjectSurvivesAKillInTheMiddleOfAnAnalysis) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    ScratchDirectory scratch;
    const auto project = scratch.file("cup.json");
    const std::vector<std::string> analyze{"analyze", footage("cup.mp4").string(), "-p", project.string(),
                                           "--duration", seconds(150)};
    const pid_t child = startProgram(analyze);
    ASSERT_GT(child, 0);

    // The first partial save puts analysis data into the project; the kill
    // comes as soon as that is seen.
    bool exited = false;
    const bool saved = waitForFirstSave(child, project, exited);
    if (!exited) {
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
    }
    ASSERT_TRUE(saved) << "the program saved no analysis before it ended";

    const auto partial = storedAnalysis(project);
    ASSERT_TRUE(partial) << "the project still holds a readable analysis";
    EXPECT_TRUE(partial->hashMatches) << "the stored hash is that of the stored data";
    expectSane(*partial, 0);

    const ProgramResult finished = runInProcess(analyze);
    ASSERT_EQ(finished.status, 0) << finished.err;
    const auto whole = storedAnalysis(project);
    ASSERT_TRUE(whole);
    expectSane(*whole, 0);
    EXPECT_LT(partial->analysis.motionBounds.size(), whole->analysis.motionBounds.size()) << "killed midway";
    EXPECT_GT(sampleFrames(whole->analysis).back(), 100.0);
}

TEST(AnalysisEndToEndTest, TerminationAndHangUpStopTheAnalysisAndSaveAsCtrlCDoes) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ScratchDirectory scratch;
        const auto project = scratch.file("cup.json");
        const pid_t child =
            startProgram({"analyze", footage("cup.mp4").string(), "-p", project.string(), "--duration", seconds(150)});
        ASSERT_GT(child, 0);
        bool exited = false;
        ASSERT_TRUE(waitForFirstSave(child, project, exited));
        ASSERT_FALSE(exited);
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
        EXPECT_EQ(WEXITSTATUS(status), 130);
        const auto stored = storedAnalysis(project);
        ASSERT_TRUE(stored);
        EXPECT_TRUE(stored->hashMatches);
        expectSane(*stored, 0);
    }
}

TEST(AnalysisEndToEndTest, CtrlCWhileTheProjectLoadsStopsBeforeTheRun) {
    ScratchDirectory scratch;
    const auto project = scratch.file("synthetic.json");
    ASSERT_EQ(runInProcess({"analyze", "--synthetic", "--duration", "1", "-p", project.string()}).status, 0);
    const std::string before = readBytes(project);
    host::AnalyzeCommand command;
    command.synthetic = true;
    command.project = project.string();
    std::ostringstream out, err;
    const int status = host::runCommand(command, host::CommandContext{out, err, false, [] { return true; }});
    EXPECT_EQ(status, 130);
    EXPECT_NE(err.str().find("stopped before the analysis started"), std::string::npos) << err.str();
    EXPECT_EQ(readBytes(project), before);
}

TEST(AnalysisEndToEndTest, AProjectOfAnotherVideoIsRefusedUnlessStartedAfresh) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    ScratchDirectory scratch;
    const auto project = scratch.file("p.json");
    ASSERT_EQ(runInProcess({"analyze", "--synthetic", "--duration", "1", "-p", project.string()}).status, 0);
    const std::string before = readBytes(project);
    std::vector<std::string> cup{"analyze", footage("cup.mp4").string(), "-p", project.string(), "--duration",
                                 seconds(20)};
    const ProgramResult refused = runInProcess(cup);
    EXPECT_EQ(refused.status, 1);
    for (const std::string& named : {std::string("synthetic clip (320x180)"), footage("cup.mp4").string() + " (640x480)",
                                     std::string("--fresh")}) {
        EXPECT_NE(refused.err.find(named), std::string::npos) << refused.err;
    }
    EXPECT_EQ(readBytes(project), before);

    cup.push_back("--fresh");
    const ProgramResult fresh = runInProcess(cup);
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    const auto stored = storedAnalysis(project);
    ASSERT_TRUE(stored);
    expectSane(*stored, 0);
    for (double frame : sampleFrames(stored->analysis)) EXPECT_LT(frame, 20) << "only the cup's samples";
}

TEST(AnalysisEndToEndTest, RunningOutOfMemoryIsReportedAndLeavesTheProjectAsItWas) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
#endif
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    ScratchDirectory scratch;
    const auto video = scratch.file("8k.mp4");
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=size=7680x4320:rate=10 -frames:v 1 -c:v libx264 -preset ultrafast "
                          "-pix_fmt yuv420p '" + video.string() + "'"));
    const auto project = scratch.file("p.json");
    createProject(project);
    const std::string before = readBytes(project);
    const auto errors = scratch.file("err.txt");
    // A frame of 7680x4320 floats is 506 MiB: the host's own buffers do not fit.
    const std::string command = "ulimit -v 1536000; exec '" + std::string(KV_HOST_PROGRAM) + "' analyze '" +
                                video.string() + "' -p '" + project.string() + "' >/dev/null 2>'" + errors.string() +
                                "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "no abort";
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(readBytes(errors).find("Out of memory"), std::string::npos) << readBytes(errors);
    EXPECT_EQ(readBytes(project), before);
}

TEST(AnalysisEndToEndTest, TheSyntheticClipIsAnalysedWhole) {
    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    ScratchDirectory scratch;
    const auto project = scratch.file("synthetic.json");
    const ProgramResult result = runInProcess({"analyze", "--synthetic", "-p", project.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Analyzed 90 frames (0.00 s to 3.00 s) of synthetic clip"), std::string::npos)
        << result.out;
    const auto stored = storedAnalysis(project);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->hashMatches);
    EXPECT_EQ(stored->analysis.imageWidth, 320);
    EXPECT_FALSE(stored->analysis.motionBounds.empty());
}

}  // namespace
}  // namespace kv::testing
