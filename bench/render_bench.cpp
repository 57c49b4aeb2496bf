// Cost of rendering one frame with the software GPU, 'RGfA' in and out, at
// 1920 × 1080 and 3840 × 2160: the reframed image quad (a crop window at
// scale 3, sampled with filtering) and two bounds outlines, as a normal
// render with the bounds overlay draws them.
//
// PassOnThreadCounts: the GPU's run of the recorded render pass (clear,
// quad, outlines) on the process's worker pool limited to 1, 4 and 8
// threads in turn, and where OpenCV was found, after each pass OpenCV's
// warpAffine doing the same bilinear crop of the same frame on as many
// threads, so that all see the same load on the machine. The table at the
// end gives the times, the ratio pass ÷ warpAffine (below 1: the pass is
// faster) and the pass against itself on 4 threads.
// Pass: the render pass on the whole pool.
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
#include "tests/platform/metal/reference/commit_recorder.h"

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

constexpr size_t kThreadCounts[] = {1, 4, 8};

// Each iteration runs the pass on 1, 4 and 8 threads in turn, each followed
// (with OpenCV) by warpAffine on as many, so that every version sees the
// same load on the machine; the iteration's time is the three passes'.
void PassOnThreadCounts(benchmark::State& state) {
    const kv::LogCapture quiet;
    RecordedFrame frame(state.range(0), state.range(1));
#ifdef KV_BENCH_OPENCV
    WarpAffine warp(frame.pixels);
#endif
    double passSeconds[3] = {}, warpSeconds[3] = {};
    for (auto _ : state) {
        double iteration = 0;
        for (size_t k = 0; k < 3; ++k) {
            const kv::dispatch::ConcurrencyLimit limit(kThreadCounts[k]);
            const Clock::time_point start = Clock::now();
            benchmark::DoNotOptimize(kv::metal::executeRenderPass(frame.pass).ok());
            const double pass = secondsSince(start);
            passSeconds[k] += pass;
            iteration += pass;
#ifdef KV_BENCH_OPENCV
            cv::setNumThreads(int(kThreadCounts[k]));
            const Clock::time_point warpStart = Clock::now();
            warp.run();
            benchmark::ClobberMemory();
            warpSeconds[k] += secondsSince(warpStart);
#endif
        }
        state.SetIterationTime(iteration);
    }
    const double iterations = double(state.iterations());
    for (size_t k = 0; k < 3; ++k) {
        const std::string threads = std::to_string(kThreadCounts[k]);
        state.counters["pass" + threads + "_ms"] = passSeconds[k] * 1e3 / iterations;
        if (warpSeconds[k] > 0) state.counters["warpAffine" + threads + "_ms"] = warpSeconds[k] * 1e3 / iterations;
    }
}

// The pass on the whole pool.
void Pass(benchmark::State& state) {
    const kv::LogCapture quiet;
    RecordedFrame frame(state.range(0), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(kv::metal::executeRenderPass(frame.pass).ok());
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

BENCHMARK(PassOnThreadCounts)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);
BENCHMARK(Pass)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Reference)->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Effect)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints, after the usual lines, the pass's time per thread count with
// warpAffine's beside it and their ratio, and the pass against itself on 4.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_name.function_name == "PassOnThreadCounts") runs_.push_back(run);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-12s %8s %10s %14s %16s %12s\n", "frame", "threads", "pass ms", "warpAffine ms",
                    "pass/warpAffine", "pass/pass@4");
        for (const Run& run : runs_) {
            const auto counter = [&](const std::string& name) {
                const auto found = run.counters.find(name);
                return found == run.counters.end() ? 0.0 : double(found->second);
            };
            for (const size_t threads : kThreadCounts) {
                const std::string n = std::to_string(threads);
                const double pass = counter("pass" + n + "_ms");
                const double warp = counter("warpAffine" + n + "_ms");
                std::printf("%-12s %8zu %10.2f", run.run_name.args.c_str(), threads, pass);
                if (warp > 0) {
                    std::printf(" %14.2f %16.2f", warp, pass / warp);
                } else {
                    std::printf(" %14s %16s", "-", "-");
                }
                std::printf(" %12.2f\n", pass / counter("pass4_ms"));
            }
        }
    }

private:
    std::vector<Run> runs_;
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
