// What a render writes, and what it leaves alone: the output replaced whole
// or not at all, every frame the summary counts held by the file (as ffprobe
// reads it), and videos no render can take whole refused or rendered as a
// player shows them.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "tests/host/program/program_test_support.h"

namespace kv::testing {
namespace {

namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The video stream of a file as ffprobe reads it, every frame decoded.
struct ProbedVideo {
    int frames = -1;
    int width = 0;
    int height = 0;
    std::string pixelFormat;
};

ProbedVideo probeVideo(const fs::path& file) {
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=nb_read_frames,width,height,pix_fmt -of default=nw=1 'file:" +
                                file.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ProbedVideo probed;
    char line[256];
    while (pipe && std::fgets(line, sizeof line, pipe.get())) {
        const std::string text(line, strcspn(line, "\n"));
        const auto value = text.substr(text.find('=') + 1);
        if (text.rfind("nb_read_frames=", 0) == 0) probed.frames = std::stoi(value);
        if (text.rfind("width=", 0) == 0) probed.width = std::stoi(value);
        if (text.rfind("height=", 0) == 0) probed.height = std::stoi(value);
        if (text.rfind("pix_fmt=", 0) == 0) probed.pixelFormat = value;
    }
    return probed;
}

// The number N of "Rendered N frames".
int renderedFrames(const std::string& out) {
    const auto at = out.find("Rendered ");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 9);
}

// What a path names, to compare before and after: type, mode, bytes.
struct PathState {
    fs::file_type type = fs::file_type::none;
    mode_t mode = 0;
    std::string bytes;
    bool operator==(const PathState&) const = default;
};

PathState stateOf(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return {fs::file_type::not_found, 0, ""};
    const fs::file_type type = fs::symlink_status(path).type();
    return {type, status.st_mode & 07777, type == fs::file_type::regular ? readBytes(path) : ""};
}

size_t entriesIn(const fs::path& directory) {
    return size_t(std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

class RenderOutputTest : public ::testing::Test {
protected:
    void SetUp() override { createProject(project); }

    ProgramResult render(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"render", "-p", project.string()});
        return runInProcess(arguments);
    }
    // A short clip of FFmpeg's test picture at 25 fps in MP4's own time base.
    fs::path makeClip(const std::string& name, const std::string& size, double seconds) {
        const fs::path clip = scratch.file(name);
        EXPECT_TRUE(runFfmpeg("-f lavfi -i testsrc=size=" + size + ":rate=25:duration=" + std::to_string(seconds) +
                              " -c:v libx264 -pix_fmt yuv444p '" + clip.string() + "'"));
        return clip;
    }

    ScratchDirectory scratch;
    fs::path project = scratch.file("project.json");
};

TEST_F(RenderOutputTest, WhatMayNotBeReplacedIsRefusedBeforeAnyWorkAndLeftAsItWas) {
    const fs::path out = scratch.file("out");
    struct Case {
        std::string what;
        std::function<bool(const fs::path&)> make;  // false: cannot be made here
        std::string says;
        std::vector<std::string> options;
    };
    const auto file = [](mode_t mode) {
        return [mode](const fs::path& p) { return writeBytes(p, "previous"), ::chmod(p.c_str(), mode) == 0; };
    };
    const std::vector<Case> cases{
        // A superuser could replace a device: refused all the same.
        {"device", [](const fs::path& p) { return ::mknod(p.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0; },
         "it is a device, not a regular file", {}},
        {"FIFO", [](const fs::path& p) { return ::mkfifo(p.c_str(), 0644) == 0; },
         "it is a FIFO (named pipe), not a regular file", {}},
        {"socket",
         [](const fs::path& p) {
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s", p.c_str());
             const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
             const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
             ::close(s);
             return bound;
         },
         "it is a socket, not a regular file", {}},
        {"folder", [](const fs::path& p) { return fs::create_directory(p); }, "it is a folder, not a regular file", {}},
        {"read-only file", file(0444), "it is read-only", {}},
        // The encoder refuses the size: the previous file stays.
        {"encoder refusal", file(0644), "h261 encoder at 320x180", {"--codec", "h261"}},
    };
    for (const Case& c : cases) {
        const fs::path output = out.string() + "-" + std::to_string(&c - cases.data()) + ".avi";
        if (!c.make(output)) continue;
        const PathState before = stateOf(output);
        const size_t entries = entriesIn(scratch.file(""));
        std::vector<std::string> arguments{"--synthetic", "--duration", "0.2", "-o", output.string()};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const ProgramResult result = render(arguments);
        EXPECT_EQ(result.status, 1) << c.what;
        EXPECT_TRUE(contains(result.err, output.string()) && contains(result.err, c.says))
            << c.what << ": " << result.err;
        EXPECT_TRUE(stateOf(output) == before) << c.what;
        EXPECT_EQ(entriesIn(scratch.file("")), entries) << c.what << ": a file was left behind";
    }
}

TEST_F(RenderOutputTest, TheOutputIsReplacedThroughItsLinkWithItsModeAndNeverThroughAPlantedName) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    // A link in the place of the old, predictable names of the temporary.
    const fs::path victim = scratch.file("victim.txt");
    writeBytes(victim, "victim");
    const std::string pid = std::to_string(::getpid());
    for (const std::string& planted : {".out.mp4.part-" + pid, ".out.mp4.tmp-" + pid + "-0"}) {
        fs::create_symlink(victim, scratch.file(planted));
    }
    // What a render killed while writing through the link left beside its
    // target: removed by the next write there.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const fs::path leftover = scratch.file(".target.mp4.tmp-" + std::to_string(gone) + "-0123456789abcdef");
    writeBytes(leftover, "half a video");
    // The output, a link to a file of mode 0600.
    const fs::path target = scratch.file("target.mp4");
    writeBytes(target, "previous");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    fs::create_symlink("target.mp4", scratch.file("out.mp4"));

    const ProgramResult result = render({"--synthetic", "--duration", "0.5", "-o", scratch.file("out.mp4").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readBytes(victim), "victim");
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::is_symlink(scratch.file("out.mp4")));
    EXPECT_EQ(stateOf(target).mode, mode_t(0600));
    EXPECT_EQ(probeVideo(target).frames, renderedFrames(result.out));
    EXPECT_EQ(entriesIn(scratch.file("")), 7u)
        << "project and its lock, victim, two links, target, output link, none else";
}

TEST_F(RenderOutputTest, ANameFFmpegWouldTakeForOneOfItsProtocolsIsAFileAllTheSame) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    // Relative, as a user types them: "pipe:1/x.mkv" in a folder "pipe:1".
    const fs::path before = fs::current_path();
    fs::current_path(scratch.file(""));
    fs::create_directory("pipe:1");
    for (const std::string output : {"pipe:1/x.mkv", "x:y.mp4"}) {
        const ProgramResult written = render({"--synthetic", "--duration", "0.2", "-o", output});
        EXPECT_EQ(written.status, 0) << written.err;
        EXPECT_EQ(probeVideo(scratch.file(output)).frames, 6) << output;
    }
    // And read as files.
    const ProgramResult read = render({"x:y.mp4", "-o", "pipe:1/again.mkv"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(probeVideo(scratch.file("pipe:1/again.mkv")).frames, 6);
    fs::current_path(before);
}

TEST_F(RenderOutputTest, EveryContainerHoldsTheFramesTheSummaryCounts) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const fs::path clip = makeClip("clip.mp4", "96x64", 1.2);
    for (const std::string extension : {"ogv", "webm", "avi", "mov", "mkv", "mp4"}) {
        const fs::path output = scratch.file("out." + extension);
        const ProgramResult result = render({clip.string(), "--duration", "1", "-o", output.string()});
        ASSERT_EQ(result.status, 0) << extension << ": " << result.err;
        EXPECT_EQ(renderedFrames(result.out), 25) << result.out;
        EXPECT_EQ(probeVideo(output).frames, 25) << extension;
    }
}

TEST_F(RenderOutputTest, AnOddSizeRendersWithTheDefaultsAtItsOwnSizeAndSaysInWhichFormat) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const fs::path clip = makeClip("odd.mp4", "33x17", 0.4);
    const fs::path output = scratch.file("out.mp4");
    const ProgramResult result = render({clip.string(), "-o", output.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "note: 33x17 has an odd side, which yuv420p's 2x2 colour blocks do not divide; "
                                     "the video is written in yuv444p\n"))
        << result.err;
    const ProbedVideo probed = probeVideo(output);
    EXPECT_EQ(probed.width, 33);
    EXPECT_EQ(probed.height, 17);
    EXPECT_EQ(probed.pixelFormat, "yuv444p");
    EXPECT_EQ(probed.frames, 10);
}

TEST_F(RenderOutputTest, AVideoCutShortIsCountedAsAnalyzeCountsItAndMostlyMissingFails) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    const fs::path video = scratch.file("cup.mp4");
    const std::string bytes = readBytes(footage("cup.mp4"));
    // Half its bytes hold the first 94 of the 217 frames its header states.
    writeBytes(video, bytes.substr(0, bytes.size() / 2));
    const fs::path output = scratch.file("out.mp4");
    writeBytes(output, "previous");
    const ProgramResult most = render({video.string(), "-o", output.string()});
    EXPECT_EQ(most.status, 1);
    EXPECT_TRUE(contains(most.err, "Most of the range of " + video.string() +
                                       " could not be decoded: 123 of the range's 217 frames could not be "
                                       "decoded (the file's data ends at 3.51 s). Nothing was written."))
        << most.err;
    EXPECT_EQ(readBytes(output), "previous");

    const ProgramResult some = render({video.string(), "--start", "3", "--duration", "1", "-o", output.string()});
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_TRUE(contains(some.err, "warning: 13 of the range's 27 frames could not be decoded")) << some.err;
    EXPECT_EQ(probeVideo(output).frames, renderedFrames(some.out));
    EXPECT_EQ(renderedFrames(some.out), 14);
}

TEST_F(RenderOutputTest, AStillAtAFrameThatCannotBeDecodedShowsThePictureBeforeIt) {
    KV_SKIP_WITHOUT_FFMPEG_TOOL();
    const fs::path video = scratch.file("damaged.mov");
    // Every frame a picture of its own (MJPEG); frame 7's bytes are zeroed.
    ASSERT_TRUE(runFfmpeg("-f lavfi -i testsrc2=size=64x48:rate=20 -frames:v 12 -c:v mjpeg '" + video.string() + "'"));
    const std::vector<ProbedPacket> packets = ffprobePackets(video);
    ASSERT_EQ(packets.size(), 12u);
    std::string bytes = readBytes(video);
    bytes.replace(size_t(packets[7].position), size_t(packets[7].size), size_t(packets[7].size), '\0');
    writeBytes(video, bytes);

    std::vector<std::string> stills;
    for (const std::string time : {"0.30", "0.35", "0.40"}) {  // frames 6, 7 and 8
        const fs::path still = scratch.file("still-" + time + ".png");
        const ProgramResult result = render({video.string(), "--frame", time, "-o", still.string()});
        ASSERT_EQ(result.status, 0) << time << ": " << result.err;
        EXPECT_EQ(contains(result.err, "the frame at 0.35 s cannot be decoded; the picture before it, at 0.30 s, "
                                       "is shown in its place"),
                  time == "0.35")
            << result.err;
        stills.push_back(readBytes(still));
    }
    EXPECT_EQ(stills[1], stills[0]);
    EXPECT_NE(stills[1], stills[2]);
}

}  // namespace
}  // namespace kv::testing
