// Cost of one smoothed-crop-bounds call on analyses of 100, 1,000 and 20,000
// samples (one sample every five frames at 29.97 fps: 20,000 samples is about
// 56 minutes), asked in the middle of the clip with a memoising provider.
//
// Moving: a box of area 0.04 drifting across the frame; the walks stop at the
// 4 s margin, so the cost should not depend on the length of the analysis.
// Small: boxes below minMotionArea; nothing stops either walk, which runs to
// the end of the analysis, so the cost grows with the number of samples.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "analysis/reframing.h"
#include "tests/analysis/default_settings.h"

namespace {

constexpr int32_t kTimescale = 30000;
constexpr int64_t kSampleSpacing = 5 * 1001;  // every fifth frame at 29.97 fps

kv::MotionAnalysis makeAnalysis(int64_t samples, double side) {
    kv::MotionAnalysis analysis;
    analysis.motionBounds.reserve(static_cast<size_t>(samples));
    for (int64_t i = 0; i < samples; ++i) {
        const double x = 0.3 + 0.2 * std::sin(static_cast<double>(i) * 0.01);
        const double y = 0.2 + 0.1 * std::cos(static_cast<double>(i) * 0.013);
        analysis.motionBounds.push_back(kv::MotionBounds{
            CMTimeMake(i * kSampleSpacing, kTimescale),
            {kv::Bounds{x, y, x + side, y + side, 800}, kv::Bounds{0.7, 0.7, 0.7 + side / 4, 0.7 + side / 4, 300}}});
    }
    return analysis;
}

// The caller's kind of provider: settings per time, read once and then kept.
class MemoisingProvider {
public:
    kv::FrameConfig operator()(CMTime time) {
        auto& byValue = memo_[time.timescale];
        const auto found = byValue.find(time.value);
        if (found != byValue.end()) return found->second;
        return byValue.emplace(time.value, kv::testing::defaultSettings()).first->second;
    }

private:
    std::unordered_map<int32_t, std::unordered_map<int64_t, kv::FrameConfig>> memo_;
};

void run(benchmark::State& state, double side) {
    const int64_t samples = state.range(0);
    const kv::MotionAnalysis analysis = makeAnalysis(samples, side);
    MemoisingProvider memo;
    const kv::SettingsProvider provider = [&memo](CMTime time) { return memo(time); };
    const CMTime t = CMTimeMake(samples / 2 * kSampleSpacing + 1001, kTimescale);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kv::computeProcessedBounds(t, analysis, provider, 0.0, 4.0));
    }
    state.SetComplexityN(samples);
}

void BM_ProcessedBoundsMoving(benchmark::State& state) { run(state, 0.2); }
void BM_ProcessedBoundsSmall(benchmark::State& state) { run(state, 0.02); }

BENCHMARK(BM_ProcessedBoundsMoving)->Arg(100)->Arg(1000)->Arg(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessedBoundsSmall)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(20000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
