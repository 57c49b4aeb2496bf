#pragma once
// Footage, scratch files and FFmpeg's command-line tool for the video tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kv::testing {

// A file of the shared footage (which tests skip when it is absent).
std::filesystem::path footage(const std::string& name);

#define KV_SKIP_WITHOUT(path) \
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "missing " << (path)

bool hasFfmpegTool();

#define KV_SKIP_WITHOUT_FFMPEG_TOOL() \
    if (!kv::testing::hasFfmpegTool()) GTEST_SKIP() << "the ffmpeg program is not installed"

// Runs `ffmpeg -v error -y ARGUMENTS`; true when it succeeds.
bool runFfmpeg(const std::string& arguments);

// The presentation times of the video packets of `file` as ffprobe lists
// them (in the stream's ticks), sorted; with each packet's byte position and
// size when asked.
struct ProbedPacket {
    int64_t pts = 0;
    int64_t position = 0;
    int64_t size = 0;
};
std::vector<ProbedPacket> ffprobePackets(const std::filesystem::path& file);

// The first frame `ffmpeg` gives for `inputArguments` (e.g. "-ss 4 -i FILE"),
// as planar G, B, R floats; empty when the tool fails.
std::optional<std::vector<float>> ffmpegFrame(const std::string& inputArguments, int width, int height);

// A directory of its own for one test, removed with everything in it.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace kv::testing
