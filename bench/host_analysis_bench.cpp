// The stand-in host's analysis end to end, as a user runs the program: the
// 1280×720 footage clip, and a 1920×1080 clip made from it with FFmpeg at
// the start. Each run is the program itself in a child process, so that its
// peak memory is its own. Beside them, in the same run, the host's side
// alone (decoding ahead onto the surfaces it hands over, no effect) and bare
// decoding into one buffer, so the host's share of the whole can be read off;
// and the analysis beside FFmpeg's own decoding, in turns, as ratios.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/video/video_clip.h"
#include "host/video/video_decoder.h"
#include "bench/peer_comparison.h"
#include "tests/support/quiet_spawn.h"

namespace {

namespace fs = std::filesystem;

const fs::path kClip = fs::path(KV_FOOTAGE_DIR) / "cockatoo_yuv420.mp4";
constexpr double kClipFps = 20;
constexpr int64_t kClipFrames = 280;

fs::path scratch(const std::string& name) {
    return fs::temp_directory_path() / ("kv_host_analysis_bench_" + std::to_string(getpid()) + "_" + name);
}

// The footage scaled to 1920×1080, made once when first asked for.
bool made1080 = false;
const fs::path& clip1080() {
    static const fs::path path = [] {
        made1080 = true;
        const fs::path made = scratch("1080.mp4");
        const std::string command = "ffmpeg -nostdin -v error -y -i '" + kClip.string() +
                                    "' -vf scale=1920:1080 -c:v libx264 -preset veryfast -crf 20 -an '" +
                                    made.string() + "' </dev/null";
        if (!fs::exists(kClip) || std::system(command.c_str()) != 0) return fs::path();
        return made;
    }();
    return path;
}

void report(benchmark::State& state, int64_t frames) {
    state.counters["frames_per_second"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["times_real_time"] = benchmark::Counter(double(frames) / kClipFps, benchmark::Counter::kIsRate);
}

// Runs the program; its exit status and peak resident memory in MiB.
std::pair<int, double> runProgram(const std::vector<std::string>& arguments) {
    const pid_t pid = kv::testing::spawnQuietly(KV_HOST_PROGRAM, arguments, nullptr, true);
    if (pid < 0) return {-1, 0};
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return {-1, 0};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, double(usage.ru_maxrss) / 1024.0};
}

void analyzeEndToEnd(benchmark::State& state, const fs::path& clip) {
    if (clip.empty() || !fs::exists(clip)) return state.SkipWithError("the footage clip is missing");
    const fs::path project = scratch("project.json");
    int64_t frames = 0;
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(project);
        state.ResumeTiming();
        const auto [status, megabytes] = runProgram({"analyze", clip.string(), "--project", project.string()});
        if (status != 0) {
            fs::remove(project);
            return state.SkipWithError("the analysis failed");
        }
        peak = std::max(peak, megabytes);
        frames += kClipFrames;
    }
    fs::remove(project);
    report(state, frames);
    state.counters["peak_memory_MiB"] = peak;
}

void BM_AnalyzeClipEndToEnd720p(benchmark::State& state) { analyzeEndToEnd(state, kClip); }
BENCHMARK(BM_AnalyzeClipEndToEnd720p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_AnalyzeClipEndToEnd1080p(benchmark::State& state) { analyzeEndToEnd(state, clip1080()); }
BENCHMARK(BM_AnalyzeClipEndToEnd1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The host's side alone: every frame decoded ahead onto the surface that
// would be handed over, and let go at once.
void handOverFramesAlone(benchmark::State& state, const fs::path& path) {
    if (path.empty() || !fs::exists(path)) return state.SkipWithError("the footage clip is missing");
    int64_t frames = 0;
    for (auto _ : state) {
        auto clip = kv::host::VideoClip::open(path);
        if (!clip) return state.SkipWithError(clip.error().message.c_str());
        auto sequence = (*clip)->frames((*clip)->timeRange(), kCVPixelFormatType_128RGBAFloat);
        if (!sequence) return state.SkipWithError(sequence.error().message.c_str());
        for (;;) {
            auto frame = (*sequence)->next();
            if (!frame || !*frame) break;
            benchmark::DoNotOptimize((*frame)->surface.get());
            ++frames;
        }
    }
    report(state, frames);
}

void BM_HandOverFramesAlone720p(benchmark::State& state) { handOverFramesAlone(state, kClip); }
BENCHMARK(BM_HandOverFramesAlone720p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_HandOverFramesAlone1080p(benchmark::State& state) { handOverFramesAlone(state, clip1080()); }
BENCHMARK(BM_HandOverFramesAlone1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The analysis of the 720p clip beside FFmpeg decoding it alone, the two
// taking turns: the ratios of their times.
void BM_AnalyzeVersusFfmpegDecoding(benchmark::State& state) {
    if (!fs::exists(kClip)) return state.SkipWithError("the footage clip is missing");
    const fs::path project = scratch("peer_project.json");
    kv::bench::comparePairs(state, KV_HOST_PROGRAM, {"analyze", kClip.string(), "--project", project.string()},
                            {"-nostdin", "-threads", "0", "-i", kClip.string(), "-f", "null", "-"},
                            [&] { fs::remove(project); });
    fs::remove(project);
}
BENCHMARK(BM_AnalyzeVersusFfmpegDecoding)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

// Decoding alone: the clip's pictures into one reused buffer of RGBA floats.
void BM_DecodeClipAlone720p(benchmark::State& state) {
    if (!fs::exists(kClip)) return state.SkipWithError("the footage clip is missing");
    int64_t frames = 0;
    for (auto _ : state) {
        auto decoder = kv::VideoDecoder::open(kClip);
        if (!decoder) return state.SkipWithError(decoder.error().message.c_str());
        const kv::VideoStreamInfo& info = (*decoder)->info();
        std::vector<float> picture(info.packedBytesPerRow() / sizeof(float) * size_t(info.height));
        for (;;) {
            auto time = (*decoder)->readFrame(picture.data(), info.packedBytesPerRow());
            if (!time || !*time) break;
            benchmark::DoNotOptimize(picture.data());
            ++frames;
        }
    }
    report(state, frames);
}
BENCHMARK(BM_DecodeClipAlone720p)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (made1080) fs::remove(clip1080());
    return 0;
}
