// The stand-in host's analysis of the 1280×720 footage clip end to end, as
// the program runs it: decoding, the copy onto the frame surface and into
// the effect, the frame differencing, and every save of the project. Beside
// it, in the same run, the clip's decoding alone through the same clip
// source, so that the share of decoding in the whole can be read off.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "host/program/program.h"
#include "host/video/video_clip.h"

namespace {

const std::filesystem::path kClip = std::filesystem::path(KV_FOOTAGE_DIR) / "cockatoo_yuv420.mp4";
constexpr double kClipFps = 20;

void report(benchmark::State& state, int64_t frames) {
    state.counters["frames_per_second"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    state.counters["times_real_time"] = benchmark::Counter(double(frames) / kClipFps, benchmark::Counter::kIsRate);
}

void BM_AnalyzeClipEndToEnd(benchmark::State& state) {
    if (!std::filesystem::exists(kClip)) return state.SkipWithError("the footage clip is missing");
    const auto project =
        std::filesystem::temp_directory_path() / ("kv_host_analysis_bench_" + std::to_string(getpid()) + ".json");
    int64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(project);
        state.ResumeTiming();
        std::ostringstream out, err;
        const int status = kv::host::runProgram({"analyze", kClip.string(), "--project", project.string()},
                                                {out, err, false});
        if (status != 0) {
            std::filesystem::remove(project);
            return state.SkipWithError(err.str().c_str());
        }
        frames += 280;
    }
    std::filesystem::remove(project);
    report(state, frames);
}
BENCHMARK(BM_AnalyzeClipEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_DecodeClipThroughClipSource(benchmark::State& state) {
    if (!std::filesystem::exists(kClip)) return state.SkipWithError("the footage clip is missing");
    int64_t frames = 0;
    for (auto _ : state) {
        auto clip = kv::host::VideoClip::open(kClip);
        if (!clip) return state.SkipWithError(clip.error().message.c_str());
        for (int64_t i = 0; i < (*clip)->format().frameCount; ++i) {
            benchmark::DoNotOptimize((*clip)->frame(i).rgba.data());
            ++frames;
        }
    }
    report(state, frames);
}
BENCHMARK(BM_DecodeClipThroughClipSource)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
