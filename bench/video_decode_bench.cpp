// Decoding and conversion to RGBA floats of the 1280×720 footage clip:
// frames a second, and how many times faster than the clip plays.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include "host/video/video_decoder.h"

namespace {

const std::filesystem::path kClip = std::filesystem::path(KV_FOOTAGE_DIR) / "cockatoo_yuv420.mp4";

void BM_DecodeClipToRgbaFloats(benchmark::State& state) {
    if (!std::filesystem::exists(kClip)) {
        state.SkipWithError("the footage clip is missing");
        return;
    }
    int64_t frames = 0;
    double clipSeconds = 0;
    for (auto _ : state) {
        auto decoder = kv::VideoDecoder::open(kClip);
        if (!decoder) {
            state.SkipWithError(decoder.error().message.c_str());
            return;
        }
        const kv::VideoStreamInfo& info = (*decoder)->info();
        std::vector<float> frame(info.packedBytesPerRow() / sizeof(float) * info.height);
        for (;;) {
            auto time = (*decoder)->readFrame(frame.data(), info.packedBytesPerRow());
            if (!time || !*time) break;
            benchmark::DoNotOptimize(frame.data());
            ++frames;
            clipSeconds += CMTimeGetSeconds(info.frameDuration);
        }
    }
    state.counters["frames_per_second"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
    // Seconds of clip decoded per second of work.
    state.counters["times_real_time"] = benchmark::Counter(clipSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeClipToRgbaFloats)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
