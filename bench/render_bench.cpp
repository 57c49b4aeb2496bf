// Cost of rendering one frame with the software GPU, 'RGfA' in and out, at
// 1920 × 1080 and 3840 × 2160: the reframed image quad (a crop window at
// scale 3, sampled with filtering) and two bounds outlines, as a normal
// render with the bounds overlay draws them.
//
// Pass: the GPU's run of the recorded render pass (clear, quad, outlines),
// on the process's worker pool limited to 1, 4 and 8 threads. Where OpenCV
// was found, each pass is followed in the same iteration by OpenCV's
// warpAffine doing the same bilinear crop of the same frame on as many
// threads, so that both see the same load on the machine; the table at the
// end gives both times and the ratio pass ÷ warpAffine (below 1: the pass
// is faster).
// Reference: the same pass by the per-pixel reference of the tests; the
// ratio Pass ÷ Reference is the gain of the row-parallel span rasterizer.
// Effect: the whole render entry through the host, state decoding, cache,
// counters, the destination surface and commit included.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "analysis/plugin_state.h"
#include "host/effect_instance.h"
#include "host/frame_render.h"
#include "host/frame_surfaces.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/log.h"
#include "platform/metal/rasterizer.h"
#include "plugin/kestrelvantage_plugin.h"
#include "tests/analysis/default_settings.h"
#include "tests/metal/reference/commit_recorder.h"

#ifdef KV_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

kv::host::Frame patternFrame(int64_t width, int64_t height) {
    kv::host::Frame frame{width, height, std::vector<float>(size_t(width * height * 4))};
    for (int64_t y = 0; y < height; ++y) {
        for (int64_t x = 0; x < width; ++x) {
            float* p = &frame.rgba[size_t((y * width + x) * 4)];
            p[0] = float(x) / float(width);
            p[1] = float(y) / float(height);
            p[2] = float((x ^ y) & 255) / 255.0f;
            p[3] = 1.0f;
        }
    }
    return frame;
}

NSData stateData() {
    kv::PluginState state;
    state.motion.time = CMTimeMake(0, 30);
    state.processedBounds.time = CMTimeMake(0, 30);
    state.enable = true;
    state.frameMix = 1.0;
    state.showBounds = true;
    state.config = kv::testing::defaultSettings();
    state.motionBox = CGRectMake(0.02, 0.55, 0.96, -0.45);
    // Crops to centre (0.5, 0.35) at scale 3.
    state.processedBounds.bounds = {kv::Bounds{0.4, 0.3, 0.6, 0.4, 50}};
    state.motion.bounds = {kv::Bounds{0.45, 0.32, 0.55, 0.38, 20}};
    return dataFromText(*kv::encodePluginStateText(state));
}

// One render through the host, with its pass recorded.
struct RecordedFrame {
    std::unique_ptr<kv::host::EffectInstance> instance =
        std::move(kv::host::EffectInstance::load(kv::kPlugInClassName)).value();
    kv::host::Frame pixels;
    std::shared_ptr<IOSurface> source;
    NSData state = stateData();
    kv::metal::RenderPass pass;
    std::vector<uint8_t> before;

    RecordedFrame(int64_t width, int64_t height)
        : pixels(patternFrame(width, height)),
          source(kv::host::makeFrameSurface(pixels, kCVPixelFormatType_128RGBAFloat)) {
        kv::test::CommitRecorder recorder;
        render();
        pass = recorder.passes.at(0);
        before = recorder.before.at(0);
    }

    bool render() {
        return kv::host::renderFrame(*instance->effect(), source, kCVPixelFormatType_128RGBAFloat, state,
                                     CMTimeMake(0, 30))
            .succeeded;
    }
};

#ifdef KV_BENCH_OPENCV
// OpenCV's warpAffine of the same crop: destination pixel (x, y) samples the
// source at ((x + 0.5) / 3 + left − 0.5, (y + 0.5) / 3 + top − 0.5) in
// texel-centre units, the window's left and top in texels, edges replicated.
struct WarpAffine {
    cv::Mat source;
    cv::Mat destination;
    cv::Mat inverse;

    explicit WarpAffine(kv::host::Frame& frame)
        : source(int(frame.height), int(frame.width), CV_32FC4, frame.rgba.data()),
          destination(int(frame.height), int(frame.width), CV_32FC4) {
        const double scale = 3.0;
        const double left = (0.5 - 0.5 / scale) * double(frame.width);
        const double top = (0.35 - 0.5 / scale) * double(frame.height);
        inverse = (cv::Mat_<double>(2, 3) << 1.0 / scale, 0.0, left + 0.5 / scale - 0.5, 0.0, 1.0 / scale,
                   top + 0.5 / scale - 0.5);
    }

    void run() {
        cv::warpAffine(source, destination, inverse, destination.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                       cv::BORDER_REPLICATE);
    }
};
#endif

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The pass on `threads` threads; with OpenCV, warpAffine right after it.
void Pass(benchmark::State& state) {
    const kv::LogCapture quiet;
    RecordedFrame frame(state.range(0), state.range(1));
    const size_t threads = size_t(state.range(2));
    const kv::dispatch::ConcurrencyLimit limit(threads);
#ifdef KV_BENCH_OPENCV
    WarpAffine warp(frame.pixels);
    cv::setNumThreads(int(threads));
    double warpSeconds = 0;
#endif
    double passSeconds = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(kv::metal::executeRenderPass(frame.pass).ok());
        const double pass = secondsSince(start);
        passSeconds += pass;
        state.SetIterationTime(pass);
#ifdef KV_BENCH_OPENCV
        const Clock::time_point warpStart = Clock::now();
        warp.run();
        benchmark::ClobberMemory();
        warpSeconds += secondsSince(warpStart);
#endif
    }
#ifdef KV_BENCH_OPENCV
    state.counters["warpAffine_ms"] = warpSeconds * 1e3 / double(state.iterations());
    state.counters["pass_over_warpAffine"] = passSeconds / warpSeconds;
#endif
}

void Reference(benchmark::State& state) {
    const kv::LogCapture quiet;
    RecordedFrame frame(state.range(0), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(kv::test::referenceRender(frame.pass, frame.before));
}

void Effect(benchmark::State& state) {
    const kv::LogCapture quiet;
    RecordedFrame frame(state.range(0), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(frame.render());
}

BENCHMARK(Pass)
    ->ArgNames({"w", "h", "threads"})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 4})
    ->Args({1920, 1080, 8})
    ->Args({3840, 2160, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(1.0);
BENCHMARK(Reference)->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Effect)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints, after the usual lines, the pass's time per thread count with
// warpAffine's beside it and their ratio, and the pass against itself on 4.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0 || run.run_name.function_name != "Pass") continue;
            Row& row = rows_[run.run_name.args];
            row.passMs = run.GetAdjustedRealTime();
            if (auto warp = run.counters.find("warpAffine_ms"); warp != run.counters.end()) row.warpMs = warp->second;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto fourThreads = rows_.find("w:1920/h:1080/threads:4");
        std::printf("\n%-26s %10s %14s %16s %14s\n", "pass", "pass ms", "warpAffine ms", "pass/warpAffine",
                    "pass/pass@4");
        for (const auto& [args, row] : rows_) {
            std::printf("%-26s %10.2f", args.c_str(), row.passMs);
            if (row.warpMs > 0) {
                std::printf(" %14.2f %16.2f", row.warpMs, row.passMs / row.warpMs);
            } else {
                std::printf(" %14s %16s", "-", "-");
            }
            if (fourThreads != rows_.end() && args.find("1920") != std::string::npos) {
                std::printf(" %14.2f", row.passMs / fourThreads->second.passMs);
            }
            std::printf("\n");
        }
    }

private:
    struct Row {
        double passMs = 0;
        double warpMs = 0;
    };
    std::map<std::string, Row> rows_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
