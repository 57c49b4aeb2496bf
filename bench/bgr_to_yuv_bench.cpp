// The encoder's conversion of a rendered 1280x720 picture to 4:2:0: by
// FFmpeg's scaler as the encoder sets it up, and directly (vector and plain).
#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <random>
#include <vector>

#include "host/video/bgr_to_yuv.h"
#include "host/video/ffmpeg_support.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

struct Pictures {
    std::vector<uint8_t> bgr = std::vector<uint8_t>(size_t(kWidth) * kHeight * 4);
    kv::AVFramePtr yuv{av_frame_alloc()};
    Pictures() {
        std::mt19937 random(1);
        for (uint8_t& b : bgr) b = uint8_t(random());
        yuv->format = AV_PIX_FMT_YUV420P;
        yuv->width = kWidth;
        yuv->height = kHeight;
        if (av_frame_get_buffer(yuv.get(), 0) < 0) std::abort();
    }
};

void BM_BgrToYuvByScaler(benchmark::State& state) {
    Pictures p;
    const kv::BgrScaler scaler = kv::makeBgrScaler(kWidth, kHeight, AV_PIX_FMT_YUV420P, SWS_CS_ITU709);
    if (!scaler) return state.SkipWithError("no scaler");
    const uint8_t* source[4] = {p.bgr.data()};
    const int stride[4] = {kWidth * 4};
    for (auto _ : state) sws_scale(scaler.get(), source, stride, 0, kHeight, p.yuv->data, p.yuv->linesize);
}
BENCHMARK(BM_BgrToYuvByScaler)->Unit(benchmark::kMicrosecond);

void BM_BgrToYuvDirect(benchmark::State& state) {
    Pictures p;
    const auto direct = kv::BgrToYuv::make(AV_PIX_FMT_YUV420P, kWidth, kHeight, sws_getCoefficients(SWS_CS_ITU709));
    const auto units = kv::VectorUnits(state.range(0));
    for (auto _ : state) direct->convert(p.bgr.data(), size_t(kWidth) * 4, *p.yuv, units);
}
BENCHMARK(BM_BgrToYuvDirect)
    ->Arg(int(kv::VectorUnits::avx2))
    ->Arg(int(kv::VectorUnits::none))
    ->ArgName("vector_units")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
