#pragma once
// The usage counters of one effect object. The effect updates them from the
// host's threads; the statistics thread snapshots and resets them. All of it
// happens under the counter's one lock, so the contents are reachable only
// through a Counter::Locked, which holds that lock for as long as it lives.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class Counter {
public:
    // One counter: an event count, a tally of strings, and running
    // statistics of floats. Which parts a Feature uses depends on its users.
    struct Feature {
        int64_t count = 0;
        uint64_t duration = 0;
        std::optional<int64_t> min;
        std::optional<int64_t> max;
        std::optional<float> fmn;
        std::optional<float> fmx;
        std::map<std::string, int64_t, std::less<>> tried;
        std::optional<int64_t> firstInt;
        std::optional<int64_t> lastInt;
        std::optional<float> firstFlt;
        std::optional<float> lastFlt;
        std::optional<std::string> lastStr;
        int64_t active = 0;
        uint64_t timeStart = 0;

        // Back to the state of a fresh Feature.
        void reset();
        // Adds one event to `count`, which stops at the largest value
        // instead of overflowing.
        void countEvent();
        // Tallies `s` (the tally saturates like `count`) and keeps it as the latest.
        void recordString(std::string_view s);
        // Keeps the smallest, largest, first and latest value, as 32-bit
        // floats. A value that is not finite, or too large for a 32-bit
        // float, is not recorded: the statistics message could not carry it,
        // and every later message of the counter would fail with it.
        void recordFloat(double v);

        friend bool operator==(const Feature&, const Feature&) = default;
    };

    struct UsageCount {
        Feature analyzeAction;
        Feature analyzedFrames;
        Feature renderedFrames;
        Feature showExam;
        Feature showBounds;
        Feature sourceResolution;
        Feature destinationResolution;
        Feature bothResolutionMapping;
        Feature analysisResolution;
        Feature renderScale;
        Feature timelineFps;
        Feature nativeFps;

        void resetAll();

        friend bool operator==(const UsageCount&, const UsageCount&) = default;
    };

    struct PerformanceInfo {
        Feature analysisSpeedFps;
        Feature renderSpeedFps;

        friend bool operator==(const PerformanceInfo&, const PerformanceInfo&) = default;
    };

    struct DebugInfo {
        std::vector<std::string> debugMessages;

        friend bool operator==(const DebugInfo&, const DebugInfo&) = default;
    };

    class Locked;

    Counter() = default;
    Counter(const Counter&) = delete;
    Counter& operator=(const Counter&) = delete;

    // Takes `mutex` (it is not recursive: never lock a counter twice on one
    // thread) and gives access to the contents until the result goes away.
    [[nodiscard]] Locked lock();

private:
    UsageCount usage;
    PerformanceInfo performance;
    DebugInfo debug;
    std::mutex mutex;
};

// The counter's contents, with its lock held. Keep it only for the few
// updates of one event, or one snapshot or reset: every other user waits.
class Counter::Locked {
public:
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

    UsageCount& usage;
    PerformanceInfo& performance;
    DebugInfo& debug;

private:
    friend class Counter;
    explicit Locked(Counter& counter)
        : usage(counter.usage), performance(counter.performance), debug(counter.debug), hold_(counter.mutex) {}

    std::lock_guard<std::mutex> hold_;
};

inline Counter::Locked Counter::lock() { return Locked(*this); }

}  // namespace kv
