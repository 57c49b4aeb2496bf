#pragma once
// Our program beside a peer command (FFmpeg doing the same job by hand), each
// started as a child process, in turns within one run, so that the ratios
// hold however busy the machine is: the wall time and the CPU time (the
// child's own, user and system, as wait4 reports it) of each, and the median
// of the ratios of each pair.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/quiet_spawn.h"

namespace kv::bench {

// Where FFmpeg's command-line program is; empty when it is not installed.
inline std::string ffmpegProgram() {
    for (const char* path : {"/usr/bin/ffmpeg", "/usr/local/bin/ffmpeg"}) {
        if (access(path, X_OK) == 0) return path;
    }
    return "";
}

struct ChildRun {
    bool succeeded = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
};

inline ChildRun runChild(const std::string& program, const std::vector<std::string>& arguments) {
    ChildRun run;
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = kv::testing::spawnQuietly(program, arguments);
    if (pid < 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;
    run.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

inline double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One pair per iteration of the benchmark, the two taking turns to go first.
// `prepare`, when given, runs before each of ours, untimed. The counters:
// medians of ours ÷ peer for wall and CPU time, and each side's median times.
template <class Prepare>
void comparePairs(benchmark::State& state, const std::string& ours, const std::vector<std::string>& ourArguments,
                  const std::vector<std::string>& peerArguments, Prepare&& prepare) {
    const std::string peer = ffmpegProgram();
    if (peer.empty()) return state.SkipWithError("FFmpeg's program is not installed");
    std::vector<double> wallRatios, cpuRatios, ourWall, peerWall, ourCpu, peerCpu;
    int64_t pair = 0;
    for (auto _ : state) {
        ChildRun mine, theirs;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (pair % 2 == 0)) {
                state.PauseTiming();
                prepare();
                state.ResumeTiming();
                mine = runChild(ours, ourArguments);
            } else {
                theirs = runChild(peer, peerArguments);
            }
        }
        ++pair;
        if (!mine.succeeded || !theirs.succeeded) return state.SkipWithError("a run failed");
        wallRatios.push_back(mine.wallSeconds / theirs.wallSeconds);
        cpuRatios.push_back(mine.cpuSeconds / theirs.cpuSeconds);
        ourWall.push_back(mine.wallSeconds);
        peerWall.push_back(theirs.wallSeconds);
        ourCpu.push_back(mine.cpuSeconds);
        peerCpu.push_back(theirs.cpuSeconds);
    }
    state.counters["wall_ratio"] = median(wallRatios);
    state.counters["cpu_ratio"] = median(cpuRatios);
    state.counters["ours_wall_s"] = median(ourWall);
    state.counters["peer_wall_s"] = median(peerWall);
    state.counters["ours_cpu_s"] = median(ourCpu);
    state.counters["peer_cpu_s"] = median(peerCpu);
}

}  // namespace kv::bench
