// Analysing the videos a user's machine holds besides good ones: damaged,
// cut short, of a variable frame rate, or paths that are no video file.
// The clips are made with FFmpeg here; ffprobe says independently where
// their frames lie.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "host/program/time_text.h"
#include "host/video/video_clip.h"
#include "platform/foundation/double_text.h"
#include "tests/host/program/program_test_support.h"

namespace kv::testing {
namespace {

// The frames a clip hands over for its whole range: their times in `timescale`
// ticks, and which came without a picture.
struct HandedFrames {
    std::vector<int64_t> ticks;
    std::vector<int64_t> absent;
};

HandedFrames handOver(const host::ClipSource& clip, int32_t timescale) {
    HandedFrames handed;
    auto frames = clip.frames(clip.timeRange(), kCVPixelFormatType_128RGBAFloat);
    if (!frames.ok()) {
        ADD_FAILURE() << frames.error().message;
        return handed;
    }
    for (;;) {
        auto frame = (*frames)->next();
        if (!frame.ok()) ADD_FAILURE() << frame.error().message;
        if (!frame.ok() || !*frame) break;
        const CMTime time = (*frame)->time;
        EXPECT_EQ(time.timescale, timescale);
        handed.ticks.push_back(time.value);
        if (!(*frame)->surface) handed.absent.push_back(time.value);
    }
    return handed;
}

std::vector<int64_t> probedTicks(const std::filesystem::path& file) {
    std::vector<int64_t> ticks;
    for (const ProbedPacket& packet : ffprobePackets(file)) ticks.push_back(packet.pts);
    return ticks;
}

std::unique_ptr<host::VideoClip> openClip(const std::filesystem::path& path) {
    auto clip = host::VideoClip::open(path);
    if (!clip.ok()) {
        ADD_FAILURE() << clip.error().message;
        return nullptr;
    }
    return std::move(clip).value();
}

void cutTo(const std::filesystem::path& file, double share) {
    const std::string bytes = readBytes(file);
    writeBytes(file, bytes.substr(0, size_t(double(bytes.size()) * share)));
}

TEST(DamagedVideoTest, AFrameThatCannotBeDecodedIsHandedOverWithoutAPicture) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    ScratchDirectory scratch;
    const auto video = scratch.file("damaged.mov");
    // Every frame a picture of its own (MJPEG); frame 7's bytes are zeroed.
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc2=size=160x120:rate=20 -frames:v 20 -c:v mjpeg '" + video.string() +
                          "'"));
    const std::vector<ProbedPacket> packets = ffprobePackets(video);
    ASSERT_EQ(packets.size(), 20u);
    std::string bytes = readBytes(video);
    bytes.replace(size_t(packets[7].position), size_t(packets[7].size), size_t(packets[7].size), '\0');
    writeBytes(video, bytes);

    auto clip = openClip(video);
    ASSERT_TRUE(clip);
    const HandedFrames handed = handOver(*clip, clip->info().timescale);
    EXPECT_EQ(handed.ticks, probedTicks(video));
    EXPECT_EQ(handed.absent, std::vector<int64_t>{packets[7].pts});

    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    const ProgramResult result = runInProcess({"analyze", video.string(), "-p", scratch.file("p.json").string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Analyzed 19 frames"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("1 of the range's 20 frames could not be decoded"), std::string::npos) << result.err;
}

TEST(DamagedVideoTest, AFileCutShortKeepsTheSamplesPastItsEndAndSaysMostIsMissing) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    ScratchDirectory scratch;
    const auto video = scratch.file("cup.mp4");
    const auto project = scratch.file("cup.json");
    writeBytes(video, readBytes(footage("cup.mp4")));
    ASSERT_EQ(runInProcess({"analyze", video.string(), "-p", project.string()}).status, 0);
    const auto whole = storedAnalysis(project);
    ASSERT_TRUE(whole);

    // Half its bytes hold its first 94 of 217 frames (ffprobe lists them).
    cutTo(video, 0.5);
    const std::vector<int64_t> held = probedTicks(video);
    ASSERT_EQ(held.size(), 94u);
    const ProgramResult result = runInProcess({"analyze", video.string(), "-p", project.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("Analyzed 94 frames"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("123 of the range's 217 frames could not be decoded"), std::string::npos) << result.err;

    const auto after = storedAnalysis(project);
    ASSERT_TRUE(after);
    const CMTime heldEnd = CMTimeMake(held.back() + 1000, 26777);
    std::vector<MotionBounds> pastTheEnd, expected;
    for (const MotionBounds& s : after->analysis.motionBounds) {
        if (CMTimeCompare(s.time, heldEnd) >= 0) pastTheEnd.push_back(s);
    }
    for (const MotionBounds& s : whole->analysis.motionBounds) {
        if (CMTimeCompare(s.time, heldEnd) >= 0) expected.push_back(s);
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(pastTheEnd, expected);

    // A tenth of it: next to nothing is there, and the program says so.
    cutTo(video, 0.2);
    const ProgramResult tenth = runInProcess({"analyze", video.string(), "-p", scratch.file("t.json").string()});
    EXPECT_EQ(tenth.status, 1);
    EXPECT_NE(tenth.err.find("Most of the range of " + video.string() + " could not be decoded"), std::string::npos)
        << tenth.err;
}

TEST(DamagedVideoTest, AVariableFrameRateVideoIsAnalysedWholeAtItsOwnFrameTimes) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    ScratchDirectory scratch;
    const auto video = scratch.file("vfr.mp4");
    // 30 fps for a second, then every fourth frame: 59 frames over about 4.8 s
    // where 59 frames at the nominal 30 fps would last under 2 s.
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc2=size=160x120:rate=30 -t 4.94 "
                          "-vf \"select='lt(t,1)+not(mod(n,4))'\" -fps_mode vfr -c:v libx264 -preset ultrafast '" +
                          video.string() + "'"));
    auto clip = openClip(video);
    ASSERT_TRUE(clip);
    EXPECT_EQ(clip->format().frameDuration, CMTimeMake(512, 15360)) << "the nominal 30 fps";
    const HandedFrames handed = handOver(*clip, 15360);
    EXPECT_EQ(handed.ticks, probedTicks(video));
    EXPECT_TRUE(handed.absent.empty());
    ASSERT_FALSE(handed.ticks.empty());
    const double end = CMTimeGetSeconds(CMTimeRangeGetEnd(clip->timeRange()));
    EXPECT_GT(end, double(handed.ticks.back()) / 15360);

    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    const auto project = scratch.file("vfr.json");
    const ProgramResult result = runInProcess({"analyze", video.string(), "-p", project.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Analyzed " + std::to_string(handed.ticks.size()) + " frames (0.00 s to " +
                              kv::host::secondsText(end) + ")"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.err.find("could not be decoded"), std::string::npos) << result.err;
    const auto stored = storedAnalysis(project);
    ASSERT_TRUE(stored);
    ASSERT_FALSE(stored->analysis.motionBounds.empty());
    EXPECT_GT(CMTimeGetSeconds(stored->analysis.motionBounds.back().time), 4.0);
}

TEST(DamagedVideoTest, WhatIsNoRegularFileIsRefusedAtOnce) {
    ScratchDirectory scratch;
    const auto fifo = scratch.file("fifo.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it would wait forever
    const auto directory = scratch.file("folder.mp4");
    std::filesystem::create_directory(directory);
    for (const auto& [path, what] : {std::pair{fifo, "is a FIFO"}, std::pair{directory, "is a directory"}}) {
        const ProgramResult result = runInProcess({"analyze", path.string(), "-p", scratch.file("p.json").string()});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find(path.string() + " " + what), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace kv::testing
