// The render command as a user runs it: outputs decoded by the ffmpeg
// program, never by the host's own decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "host/program/commands.h"
#include "host/synthetic_clip.h"
#include "platform/foundation/log.h"
#include "tests/host/program/program_test_support.h"

namespace kv::testing {
namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Every frame of a video as packed 8-bit RGB, decoded by the ffmpeg program
// (each frame once: no frames repeated to fill gaps in time).
std::vector<std::string> decodedFrames(const std::filesystem::path& video, int width, int height) {
    const std::filesystem::path raw = video.string() + ".rgb";
    if (!runFfmpeg("-i " + video.string() + " -fps_mode passthrough -f rawvideo -pix_fmt rgb24 " + raw.string())) {
        return {};
    }
    const std::string bytes = readBytes(raw);
    const size_t frameBytes = size_t(width) * height * 3;
    std::vector<std::string> frames;
    for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
        frames.push_back(bytes.substr(at, frameBytes));
    }
    return frames;
}

// The columns and rows the synthetic square covers in an RGB frame: its
// pixels are darker (all channels) or redder than the background ever is.
host::PixelRect squareIn(const std::string& rgb, int width, int height) {
    int64_t minX = width, minY = height, maxX = -1, maxY = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(&rgb[(size_t(y) * width + x) * 3]);
            if (std::max({p[0], p[1], p[2]}) < 20 || p[0] > 160) {
                minX = std::min<int64_t>(minX, x);
                maxX = std::max<int64_t>(maxX, x);
                minY = std::min<int64_t>(minY, y);
                maxY = std::max<int64_t>(maxY, y);
            }
        }
    }
    return {minX, minY, maxX - minX + 1, maxY - minY + 1};
}

class RenderCommandTest : public ::testing::Test {
protected:
    // The synthetic clip analysed into the project, with Enable on and,
    // for a clip of 3 s, smoothing times (38, 39, 40) shorter than the
    // defaults and a maximum zoom (32) at which its square fits the picture.
    void analyzeSynthetic() {
        KV_SKIP_UNLESS_EFFECT_ANALYZES();
        std::filesystem::remove(project);
        ASSERT_EQ(runInProcess({"analyze", "--synthetic", "-p", project.string()}).status, 0);
        ASSERT_EQ(runInProcess({"set", "-p", project.string(), "70=true", "38=0.5", "39=1", "40=1", "32=150"}).status,
                  0);
    }

    ProgramResult render(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"render", "-p", project.string()});
        return runInProcess(arguments);
    }

    ScratchDirectory scratch;
    std::filesystem::path project = scratch.file("project.json");
    const host::SyntheticClip clip;
    const int width = int(clip.format().width);
    const int height = int(clip.format().height);
};

TEST_F(RenderCommandTest, TheMovingSquareStaysWhollyInThePictureAndIsZoomedInOnceThereIsMotion) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    analyzeSynthetic();
    if (IsSkipped() || HasFatalFailure()) return;
    const auto video = scratch.file("out.mp4");
    const ProgramResult result = render({"--synthetic", "-o", video.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "Rendered 90 frames")) << result.out;
    EXPECT_EQ(result.err, "");

    const std::vector<std::string> frames = decodedFrames(video, width, height);
    ASSERT_EQ(frames.size(), 90u);
    for (size_t i = 0; i < frames.size(); ++i) {
        const host::PixelRect source = clip.objectRect(int64_t(i));
        const host::PixelRect shown = squareIn(frames[i], width, height);
        EXPECT_TRUE(shown.x > 0 && shown.y > 0 && shown.x + shown.width < width && shown.y + shown.height < height)
            << "frame " << i << ": the square is cut at the picture's edge";
        // The analysis has its first motion at frame 5.
        if (i >= 5) {
            EXPECT_GT(shown.width, source.width * 5 / 4) << "frame " << i;
            EXPECT_GT(shown.height, source.height * 5 / 4) << "frame " << i;
        }
    }
}

TEST_F(RenderCommandTest, AStillIsExactlyTheVideosFrameAtThatTime) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    analyzeSynthetic();
    if (IsSkipped() || HasFatalFailure()) return;
    const auto video = scratch.file("lossless.mkv");
    const auto still = scratch.file("still.png");
    ASSERT_EQ(render({"--synthetic", "--codec", "ffv1", "-o", video.string()}).status, 0);
    // 1.51 s lies within frame 45 (1.5 s to 1.533 s).
    const ProgramResult result = render({"--synthetic", "--frame", "1.51", "-o", still.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "frame at 1.50 s")) << result.out;

    const std::vector<std::string> frames = decodedFrames(video, width, height);
    const std::vector<std::string> picture = decodedFrames(still, width, height);
    ASSERT_EQ(frames.size(), 90u);
    ASSERT_EQ(picture.size(), 1u);
    EXPECT_TRUE(picture[0] == frames[45]);
    EXPECT_FALSE(picture[0] == frames[44]);
}

TEST_F(RenderCommandTest, WithoutAnalysisOrWithEnableOffThePlainPictureIsRenderedAndTheReasonGiven) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    createProject(project);
    const auto plain = scratch.file("plain.png");
    ProgramResult result = render({"--synthetic", "--frame", "1", "-o", plain.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "nothing is reframed: the project holds no analysis")) << result.err;
    // Frame 30, as 8-bit RGB.
    const host::Frame source = clip.frame(30);
    std::string expected;
    for (size_t i = 0; i < source.rgba.size(); ++i) {
        if (i % 4 != 3) expected.push_back(char(std::lround(source.rgba[i] * 255.0f)));
    }
    EXPECT_TRUE(decodedFrames(plain, width, height).at(0) == expected);

    analyzeSynthetic();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_EQ(runInProcess({"set", "-p", project.string(), "70=false"}).status, 0);
    result = render({"--synthetic", "--frame", "1", "-o", plain.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "Enable (parameter 70) is off")) << result.err;
    EXPECT_TRUE(decodedFrames(plain, width, height).at(0) == expected);
}

TEST_F(RenderCommandTest, TheSourcesAudioIsCopiedAndItsFrameTimesKept) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const auto source = scratch.file("tone.mp4");
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=1 -f lavfi -i sine=duration=1 "
                          "-c:v libx264 -c:a aac -shortest " + source.string()));
    createProject(project);
    const auto video = scratch.file("out.mp4");
    const ProgramResult result = render({source.string(), "-o", video.string(), "--start", "0.2"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "Rendered 20 frames (0.20 s to 0.96 s)")) << result.out;
    EXPECT_TRUE(runFfmpeg("-i " + video.string() + " -map 0:a:0 -f null -")) << "no audio stream";
    EXPECT_EQ(decodedFrames(video, 96, 64).size(), 20u);
}

TEST_F(RenderCommandTest, DamagedFramesAreSkippedCountedAndReported) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const auto source = scratch.file("damaged.avi");
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=2 -c:v mpeg4 -g 5 " + source.string()));
    std::string bytes = readBytes(source);
    for (size_t at : {bytes.size() / 4, bytes.size() / 2}) bytes.replace(at, 400, std::string(400, '\0'));
    writeBytes(source, bytes);
    createProject(project);
    const auto video = scratch.file("out.mp4");
    const ProgramResult result = render({source.string(), "-o", video.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.err,
                         "of the range's 50 frames could not be decoded; the picture before each was shown in its place"))
        << result.err;
    const size_t frames = decodedFrames(video, 96, 64).size();
    EXPECT_TRUE(frames > 40 && frames < 50) << frames;
}

TEST_F(RenderCommandTest, ARefusedOrStoppedRenderLeavesNoFile) {
    analyzeSynthetic();
    if (IsSkipped() || HasFatalFailure()) return;
    const auto tone = scratch.file("other-size.mp4");
    const bool otherSize = hasFfmpegTool() && runFfmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=0.2 " +
                                                        tone.string());
    struct Case {
        std::vector<std::string> arguments;
        std::string says;
    };
    const std::vector<Case> cases{
        {{"--synthetic", "-o", scratch.file("missing/out.mp4").string()}, "cannot be written"},
        {{"--synthetic", "-o", scratch.file("out.unknown").string()}, "Cannot tell a video format"},
        {{"--synthetic", "--codec", "nonesuch", "-o", scratch.file("out.mp4").string()}, "no video encoder"},
        {{"--synthetic", "-o", project.string()}, "would replace the render's own input"},
        {{tone.string(), "-o", scratch.file("out.mp4").string()}, "holds the analysis of synthetic clip (320x180), not of"},
    };
    const auto before = std::distance(std::filesystem::directory_iterator(scratch.file("")), {});
    for (const Case& c : cases) {
        if (c.arguments[0] == tone.string() && !otherSize) continue;
        const ProgramResult result = render(c.arguments);
        EXPECT_EQ(result.status, 1) << c.says;
        EXPECT_TRUE(contains(result.err, c.says)) << result.err;
    }
    // Ctrl-C after the third frame.
    const LogCapture quiet;
    std::ostringstream out, err;
    int frames = 0;
    const host::CommandContext context{out, err, false, [&] { return ++frames == 3; }};
    host::RenderCommand command;
    command.synthetic = true;
    command.project = project.string();
    command.output = scratch.file("stopped.mp4").string();
    EXPECT_EQ(host::runCommand(command, context), 130);
    EXPECT_TRUE(contains(err.str(), "stopped after 3 frames; nothing was written")) << err.str();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.file("")), {}), before)
        << "a file was left behind";
}

}  // namespace
}  // namespace kv::testing
