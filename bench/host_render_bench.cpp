// The stand-in host's render of the 1280×720 footage clip end to end, as the
// program runs it (`render`, Enable on, over the clip's own analysis):
// decoding, the effect's state and render calls, and encoding to H.264 in
// MP4. Beside the speed, the share of the command's time spent in each of
// the three, as the command measures them in the same run; and the program
// beside FFmpeg cropping, scaling and encoding the clip with the same encoder
// settings, the two taking turns, as ratios of their wall and CPU times.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "bench/peer_comparison.h"
#include "host/program/commands.h"
#include "host/program/program.h"
#include "platform/foundation/log.h"

namespace {

const std::filesystem::path kClip = std::filesystem::path(KV_FOOTAGE_DIR) / "cockatoo_yuv420.mp4";
constexpr double kClipFps = 20;

std::filesystem::path scratch(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("kv_host_render_bench_" + std::to_string(getpid()) + name);
}

// The project as a user makes it: the clip analysed, Enable on. False, with
// the benchmark skipped, when that fails.
bool makeProject(benchmark::State& state, const std::filesystem::path& project) {
    std::ostringstream out, err;
    if (kv::host::runProgram({"analyze", kClip.string(), "-p", project.string()}, {out, err, false}) == 0 &&
        kv::host::runProgram({"set", "-p", project.string(), "70=true"}, {out, err, false}) == 0) {
        return true;
    }
    std::filesystem::remove(project);
    state.SkipWithError(err.str().c_str());
    return false;
}

void BM_RenderClipEndToEnd(benchmark::State& state) {
    if (!std::filesystem::exists(kClip)) return state.SkipWithError("the footage clip is missing");
    const auto project = scratch(".json");
    const auto video = scratch(".mp4");
    std::ostringstream out, err;
    if (!makeProject(state, project)) return;
    kv::host::RenderCommand command;
    command.video = kClip.string();
    command.project = project.string();
    command.output = video.string();
    kv::host::RenderTimes total;
    const kv::LogCapture quiet;
    for (auto _ : state) {
        kv::host::RenderTimes times;
        const int status = kv::host::runCommand(command, {out, err, false}, &times);
        if (status != 0) {
            state.SkipWithError(err.str().c_str());
            break;
        }
        total.frames += times.frames;
        total.decodeSeconds += times.decodeSeconds;
        total.effectSeconds += times.effectSeconds;
        total.encodeSeconds += times.encodeSeconds;
    }
    std::filesystem::remove(project);
    std::filesystem::remove(video);
    const double spent = total.decodeSeconds + total.effectSeconds + total.encodeSeconds;
    if (spent <= 0) return;
    state.counters["frames_per_second"] = benchmark::Counter(double(total.frames), benchmark::Counter::kIsRate);
    state.counters["times_real_time"] =
        benchmark::Counter(double(total.frames) / kClipFps, benchmark::Counter::kIsRate);
    state.counters["decode_share"] = total.decodeSeconds / spent;
    state.counters["effect_share"] = total.effectSeconds / spent;
    state.counters["encode_share"] = total.encodeSeconds / spent;
    // Seconds of one run on each stage's own thread (the effect's summed over
    // the frames it renders at once): the stage the others wait for.
    const double runs = double(state.iterations());
    state.counters["decode_s"] = total.decodeSeconds / runs;
    state.counters["effect_s"] = total.effectSeconds / runs;
    state.counters["encode_s"] = total.encodeSeconds / runs;
}
BENCHMARK(BM_RenderClipEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_RenderVersusFfmpeg(benchmark::State& state) {
    if (!std::filesystem::exists(kClip)) return state.SkipWithError("the footage clip is missing");
    const auto project = scratch("_peer.json");
    const auto ours = scratch("_ours.mp4");
    const auto theirs = scratch("_peer.mp4");
    if (!makeProject(state, project)) return;
    kv::bench::comparePairs(
        state, KV_HOST_PROGRAM, {"render", kClip.string(), "--project", project.string(), "-o", ours.string()},
        {"-nostdin", "-y", "-threads", "0", "-i", kClip.string(), "-vf",
         "crop=853:480:200:100,scale=1280:720:flags=bilinear", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18",
         "-c:a", "copy", theirs.string()},
        [] {});
    for (const auto& path : {project, ours, theirs}) std::filesystem::remove(path);
}
BENCHMARK(BM_RenderVersusFfmpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);

}  // namespace

BENCHMARK_MAIN();
