// Cost of rendering one frame with the software GPU, 'RGfA' in and out, at
// 1920 × 1080 and 3840 × 2160: the reframed image quad (a crop window at
// scale 3, sampled with filtering) and two bounds outlines, as a normal
// render with the bounds overlay draws them.
//
// Pass: the GPU's run of the recorded render pass (clear, quad, outlines).
// Reference: the same pass by the per-pixel reference of the tests; the
// ratio Pass ÷ Reference is the gain of the row-parallel span rasterizer.
// Effect: the whole render entry through the host, state decoding, cache,
// counters and commit included.
#include <benchmark/benchmark.h>

#include <memory>

#include "analysis/plugin_state.h"
#include "host/frame_render.h"
#include "host/frame_surfaces.h"
#include "host/effect_instance.h"
#include "platform/foundation/log.h"
#include "platform/metal/rasterizer.h"
#include "plugin/kestrelvantage_plugin.h"
#include "tests/analysis/default_settings.h"
#include "tests/metal/reference/commit_recorder.h"

namespace {

std::shared_ptr<IOSurface> patternSurface(int64_t width, int64_t height) {
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
    return kv::host::makeFrameSurface(frame, kCVPixelFormatType_128RGBAFloat);
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
    state.processedBounds.bounds = {kv::Bounds{0.4, 0.3, 0.6, 0.4, 50}};
    state.motion.bounds = {kv::Bounds{0.45, 0.32, 0.55, 0.38, 20}};
    return dataFromText(*kv::encodePluginStateText(state));
}

// One render through the host, with its pass recorded.
struct RecordedFrame {
    std::unique_ptr<kv::host::EffectInstance> instance = std::move(kv::host::EffectInstance::load(kv::kPlugInClassName)).value();
    std::shared_ptr<IOSurface> source;
    NSData state = stateData();
    kv::metal::RenderPass pass;
    std::vector<uint8_t> before;

    explicit RecordedFrame(int64_t width, int64_t height) : source(patternSurface(width, height)) {
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

BENCHMARK(Pass)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Reference)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Effect)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
