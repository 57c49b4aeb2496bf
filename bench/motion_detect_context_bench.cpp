// A 1080p clip of 300 frames fed through the detection context, against the
// frame differencing of its 60 pairs alone: the difference is what the
// context costs beyond the differencing (copies, grouping, bookkeeping).
#include <benchmark/benchmark.h>

#include <vector>

#include "analysis/frame_difference.h"
#include "analysis/motion_detect_context.h"
#include "platform/foundation/log.h"
#include "tests/analysis/synthetic_frames.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300;

struct Clip {
    // The square before and after a step: every analysed pair compares these two.
    std::vector<float> before = kv::testing::frameWithSquare(kWidth, kHeight, 700, 300, 400);
    std::vector<float> after = kv::testing::frameWithSquare(kWidth, kHeight, 703, 300, 400);
};

const Clip& clip() {
    static const Clip c;
    return c;
}

void BM_AddFrame(benchmark::State& state) {
    kv::LogCapture quiet;
    const Clip& c = clip();
    for (auto _ : state) {
        kv::MotionDetectContext context;
        for (int i = 0; i < kFrames; ++i) {
            const auto& frame = (i % context.analyzeEvery == 0) ? c.after : c.before;
            context.addFrame(CMTimeMake(i, 30), kWidth, kHeight, frame.data());
        }
        benchmark::DoNotOptimize(context.result);
    }
    state.counters["fps"] = benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AddFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DifferencingOfTheSamePairs(benchmark::State& state) {
    const Clip& c = clip();
    for (auto _ : state) {
        for (int pair = 0; pair < kFrames / 5; ++pair) {
            MotionOffsetTile* tiles =
                LowLevel_MotionDetectionTakeDifference(c.before.data(), c.after.data(), nullptr, kWidth, kHeight);
            benchmark::DoNotOptimize(tiles);
            LowLevel_ReleaseMotionOffsetTile(tiles);
        }
    }
}
BENCHMARK(BM_DifferencingOfTheSamePairs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
