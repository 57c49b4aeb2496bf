#include "tests/host/video/video_test_support.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace kv::testing {

std::filesystem::path footage(const std::string& name) { return std::filesystem::path(KV_FOOTAGE_DIR) / name; }

bool hasFfmpegTool() {
    static const bool available = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return available;
}

bool runFfmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments + " </dev/null").c_str()) == 0;
}

std::vector<ProbedPacket> ffprobePackets(const std::filesystem::path& file) {
    const std::string command = "ffprobe -v error -select_streams v -show_entries packet=pts,pos,size -of csv=p=0 '" +
                                file.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<ProbedPacket> packets;
    if (!pipe) return packets;
    long long pts = 0, size = 0, position = 0;
    // ffprobe lists the fields in its own order: pts, size, pos.
    while (std::fscanf(pipe.get(), "%lld,%lld,%lld", &pts, &size, &position) == 3) {
        packets.push_back({pts, position, size});
    }
    std::sort(packets.begin(), packets.end(), [](const ProbedPacket& a, const ProbedPacket& b) { return a.pts < b.pts; });
    return packets;
}

std::optional<std::vector<float>> ffmpegFrame(const std::string& inputArguments, int width, int height) {
    const std::string command =
        "ffmpeg -nostdin -v error " + inputArguments + " -frames:v 1 -f rawvideo -pix_fmt gbrpf32le -";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return std::nullopt;
    std::vector<float> planes(static_cast<size_t>(width) * height * 3);
    if (std::fread(planes.data(), sizeof(float), planes.size(), pipe.get()) != planes.size()) return std::nullopt;
    return planes;
}

ScratchDirectory::ScratchDirectory() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("kv_video_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace kv::testing
