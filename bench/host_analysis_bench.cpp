// The stand-in host's analysis of the 1280×720 footage clip end to end, as
// the program runs it: decoding, the copy onto the frame surface and into
// the effect, the frame differencing, and every save of the project. Beside
// it, in the same run, the clip's decoding alone, so that the share of
// decoding in the whole can be read off (decode time ÷ end-to-end time).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "host/program/program.h"
#include "host/video/video_decoder.h"

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

// Decoding alone: the clip's pictures into one reused buffer of RGBA floats.
void BM_DecodeClipAlone(benchmark::State& state) {
    if (!std::filesystem::exists(kClip)) return state.SkipWithError("the footage clip is missing");
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
BENCHMARK(BM_DecodeClipAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
