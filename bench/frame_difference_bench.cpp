// The frame differencing, real and plain reference side by side, on frame
// pairs of 1280x720, 1920x1080 and 3840x2160: real footage scaled to the size,
// and a frame textured all over with a moving patch (the worst case for the
// scan; "textured-whole" moves the whole frame, which is heavier still). At
// the end a table gives, per pair, both times and the ratio reference / real.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/frame_difference.h"
#include "tests/analysis/frame_difference_frames.h"
#include "tests/analysis/frame_difference_literal.h"

namespace {

using fdframes::Frame;

struct Pair {
    Frame f1, f2;
};

const Pair* makePair(const std::string& kind, int32_t width, int32_t height) {
    static std::map<std::string, std::unique_ptr<Pair>> cache;
    const std::string key = kind + "/" + std::to_string(width) + "x" + std::to_string(height);
    if (auto found = cache.find(key); found != cache.end()) return found->second.get();
    auto pair = std::make_unique<Pair>();
    if (kind == "textured-patch" || kind == "textured-whole") {
        pair->f1 = fdframes::texturedFrame(width, height, 1);
        pair->f2 = kind == "textured-whole"
                       ? fdframes::shifted(pair->f1, 3, 2)
                       : fdframes::withMovedPatch(pair->f1, height / 3, width / 3, height / 3, 4, -3);
    } else {
        const auto frames = fdframes::decodeFootage(fdframes::footagePath(kind), width, height, 2, 100);
        if (!frames) return cache.emplace(key, nullptr).first->second.get();
        pair->f1 = (*frames)[0];
        pair->f2 = (*frames)[1];
    }
    return cache.emplace(key, std::move(pair)).first->second.get();
}

size_t realOnce(const Pair& p, std::vector<MotionOffsetTile>* out = nullptr) {
    MotionOffsetTile* tiles =
        LowLevel_MotionDetectionTakeDifference(p.f1.data(), p.f2.data(), nullptr, p.f1.width, p.f1.height);
    size_t n = 0;
    while (tiles[n].displacedCount > 0) ++n;
    if (out) out->assign(tiles, tiles + n);
    LowLevel_ReleaseMotionOffsetTile(tiles);
    return n;
}

void runReal(benchmark::State& state, const std::string& kind, int32_t width, int32_t height) {
    const Pair* pair = makePair(kind, width, height);
    if (!pair) return state.SkipWithError("footage or ffmpeg missing");
    size_t records = 0;
    for (auto _ : state) records = realOnce(*pair);
    state.counters["records"] = static_cast<double>(records);
}

void runLiteral(benchmark::State& state, const std::string& kind, int32_t width, int32_t height) {
    const Pair* pair = makePair(kind, width, height);
    if (!pair) return state.SkipWithError("footage or ffmpeg missing");
    std::vector<MotionOffsetTile> reference;
    for (auto _ : state)
        reference = literal::takeDifference(pair->f1.data(), pair->f2.data(), nullptr, width, height);
    std::vector<MotionOffsetTile> real;
    realOnce(*pair, &real);
    if (real.size() != reference.size() ||
        (!real.empty() && std::memcmp(real.data(), reference.data(), real.size() * sizeof(MotionOffsetTile)) != 0))
        state.SkipWithError("real and reference records differ");
    state.counters["records"] = static_cast<double>(reference.size());
}

// Collects the time per pair of each version and prints the ratios last.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            const std::string& name = run.run_name.function_name;
            const size_t slash = name.find('/');
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            times_[name.substr(slash + 1)][name.substr(0, slash)] = seconds;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-40s %12s %12s %8s\n", "pair", "literal ms", "real ms", "ratio");
        for (const auto& [pair, byVersion] : times_) {
            const auto literal = byVersion.find("literal"), real = byVersion.find("real");
            if (literal == byVersion.end() || real == byVersion.end()) continue;
            std::printf("%-40s %12.2f %12.3f %7.1fx\n", pair.c_str(), literal->second * 1e3, real->second * 1e3,
                        literal->second / real->second);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> times_;
};

void registerAll() {
    const std::pair<int32_t, int32_t> sizes[] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
    const char* kinds[] = {"textured-patch", "textured-whole", "vtest.avi", "cockatoo_yuv420.mp4"};
    for (const auto& [w, h] : sizes) {
        for (const std::string kind : kinds) {
            // The whole-frame move at 4K takes the reference most of a minute.
            if (kind == "textured-whole" && w > 1920) continue;
            const std::string suffix = kind + "/" + std::to_string(w) + "x" + std::to_string(h);
            benchmark::RegisterBenchmark(("literal/" + suffix).c_str(), runLiteral, kind, w, h)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(1)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("real/" + suffix).c_str(), runReal, kind, w, h)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(0.5)
                ->UseRealTime();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
