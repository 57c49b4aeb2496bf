#include "stats/usage_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

using Feature = kv::Counter::Feature;
constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();

TEST(CounterFeatureTest, FreshFeatureHoldsNothing) {
    const Feature f;
    EXPECT_EQ(f.count, 0);
    EXPECT_EQ(f.duration, 0u);
    EXPECT_TRUE(f.tried.empty());
    EXPECT_FALSE(f.min || f.max || f.firstInt || f.lastInt);
    EXPECT_FALSE(f.fmn || f.fmx || f.firstFlt || f.lastFlt || f.lastStr);
    EXPECT_EQ(f.active, 0);
    EXPECT_EQ(f.timeStart, 0u);
}

TEST(CounterFeatureTest, RecordStringTalliesEachStringAndKeepsTheLatest) {
    Feature f;
    f.recordString("a");
    f.recordString("a");
    f.recordString("a");
    f.recordString("b");
    EXPECT_EQ(f.tried, (decltype(f.tried){{"a", 3}, {"b", 1}}));
    EXPECT_EQ(f.lastStr, "b");
    EXPECT_EQ(f.count, 0);
    EXPECT_FALSE(f.fmn || f.firstFlt);
}

TEST(CounterFeatureTest, TallyAndEventCountStopAtTheLargestValue) {
    Feature f;
    f.tried["a"] = kLargest;
    f.recordString("a");
    EXPECT_EQ(f.tried.at("a"), kLargest);
    EXPECT_EQ(f.lastStr, "a");

    f.count = kLargest - 1;
    f.countEvent();
    EXPECT_EQ(f.count, kLargest);
    f.countEvent();
    EXPECT_EQ(f.count, kLargest);
}

TEST(CounterFeatureTest, RecordFloatKeepsSmallestLargestFirstAndLatest) {
    Feature f;
    f.recordFloat(3);
    f.recordFloat(1);
    f.recordFloat(2);
    EXPECT_EQ(f.fmn, 1.0f);
    EXPECT_EQ(f.fmx, 3.0f);
    EXPECT_EQ(f.firstFlt, 3.0f);
    EXPECT_EQ(f.lastFlt, 2.0f);
    EXPECT_EQ(f.count, 0);
    EXPECT_TRUE(f.tried.empty());
}

TEST(CounterFeatureTest, EqualValuesKeepTheFirstExtremes) {
    // Signed zeros compare equal, so the first one recorded stays.
    Feature f;
    f.recordFloat(0.0f);
    f.recordFloat(-0.0f);
    EXPECT_FALSE(std::signbit(*f.fmn));
    EXPECT_FALSE(std::signbit(*f.fmx));
    EXPECT_TRUE(std::signbit(*f.lastFlt));
}

TEST(CounterFeatureTest, ValuesThatAreNotFiniteOrTooLargeForAFloatAreNotRecorded) {
    const double unrecordable[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(), 1e39, -1e300};
    for (const double v : unrecordable) {
        Feature f;
        f.recordFloat(v);
        EXPECT_EQ(f, Feature{}) << v;
        f.recordFloat(2);
        f.recordFloat(v);
        EXPECT_EQ(f.fmn, 2.0f);
        EXPECT_EQ(f.fmx, 2.0f);
        EXPECT_EQ(f.firstFlt, 2.0f);
        EXPECT_EQ(f.lastFlt, 2.0f) << v;
    }
    Feature largest;
    largest.recordFloat(-double(std::numeric_limits<float>::max()));
    EXPECT_EQ(largest.fmn, -std::numeric_limits<float>::max());
}

TEST(CounterFeatureTest, ResetMakesTheFeatureFreshAgain) {
    Feature f;
    f.countEvent();
    f.recordString("x");
    f.recordFloat(7);
    f.recordFloat(std::nanf(""));
    f.duration = 4;
    f.min = 1;
    f.max = 2;
    f.firstInt = 3;
    f.lastInt = 4;
    f.active = 1;
    f.timeStart = 9;
    f.reset();
    EXPECT_EQ(f, Feature{});

    f.recordFloat(4);
    EXPECT_EQ(f.fmn, 4.0f);
    EXPECT_EQ(f.fmx, 4.0f);
    EXPECT_EQ(f.firstFlt, 4.0f);
    EXPECT_EQ(f.lastFlt, 4.0f);
}

TEST(CounterUsageCountTest, ResetAllResetsEveryUsageFeatureButNotPerformance) {
    kv::Counter counter;
    auto c = counter.lock();
    Feature used;
    used.countEvent();
    used.recordString("s");
    used.recordFloat(1);
    for (Feature* f : {&c.usage.analyzeAction, &c.usage.analyzedFrames, &c.usage.renderedFrames, &c.usage.showExam,
                       &c.usage.showBounds, &c.usage.sourceResolution, &c.usage.destinationResolution,
                       &c.usage.bothResolutionMapping, &c.usage.analysisResolution, &c.usage.renderScale,
                       &c.usage.timelineFps, &c.usage.nativeFps, &c.performance.analysisSpeedFps,
                       &c.performance.renderSpeedFps}) {
        *f = used;
    }
    c.debug.debugMessages.push_back("kept");

    c.usage.resetAll();

    EXPECT_EQ(c.usage, kv::Counter::UsageCount{});
    EXPECT_EQ(c.performance.analysisSpeedFps, used);
    EXPECT_EQ(c.performance.renderSpeedFps, used);
    EXPECT_EQ(c.debug.debugMessages, std::vector<std::string>{"kept"});
}

// The contents are reachable only through the guard that holds the lock.
template <class C>
concept ReachableWithoutLock = requires(C& c) { c.usage; } || requires(C& c) { c.debug; };
static_assert(!ReachableWithoutLock<kv::Counter>);
static_assert(!std::is_copy_constructible_v<kv::Counter::Locked>);

TEST(CounterTest, FreshCounterHoldsNothing) {
    kv::Counter counter;
    auto c = counter.lock();
    EXPECT_EQ(c.usage, kv::Counter::UsageCount{});
    EXPECT_EQ(c.performance, kv::Counter::PerformanceInfo{});
    EXPECT_TRUE(c.debug.debugMessages.empty());
}

// Several threads count under the lock while another takes snapshots and
// resets in one hold each: every update lands in exactly one snapshot or in
// what is left at the end.
TEST(CounterConcurrencyTest, NoUpdateIsLostBetweenSnapshotAndReset) {
    constexpr int kWriters = 4;
    constexpr int kUpdates = 2000;
    kv::Counter counter;
    std::atomic<int> writersDone{0};

    int64_t seenFrames = 0;
    int64_t seenStrings = 0;
    size_t seenMessages = 0;
    float seenLargest = 0;
    auto takeAndReset = [&] {
        auto c = counter.lock();
        const kv::Counter::UsageCount usage = c.usage;
        seenFrames += usage.renderedFrames.count;
        for (const auto& [text, tally] : usage.sourceResolution.tried) seenStrings += tally;
        seenMessages += c.debug.debugMessages.size();
        if (c.performance.renderSpeedFps.fmx) seenLargest = std::max(seenLargest, *c.performance.renderSpeedFps.fmx);
        c.usage.resetAll();
        c.performance.analysisSpeedFps.reset();
        c.performance.renderSpeedFps.reset();
        c.debug.debugMessages.clear();
    };

    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            const std::string resolution = std::to_string(w) + "x1";
            for (int i = 0; i < kUpdates; ++i) {
                auto c = counter.lock();
                c.usage.renderedFrames.countEvent();
                c.usage.sourceResolution.recordString(resolution);
                c.performance.renderSpeedFps.recordFloat(static_cast<float>(i));
                if (i % 100 == 0) c.debug.debugMessages.push_back("m");
            }
            ++writersDone;
        });
    }
    std::thread reader([&] {
        while (writersDone.load() < kWriters) takeAndReset();
    });
    for (auto& t : writers) t.join();
    reader.join();
    takeAndReset();

    EXPECT_EQ(seenFrames, kWriters * kUpdates);
    EXPECT_EQ(seenStrings, kWriters * kUpdates);
    EXPECT_EQ(seenMessages, static_cast<size_t>(kWriters * (kUpdates / 100)));
    EXPECT_EQ(seenLargest, static_cast<float>(kUpdates - 1));
}

}  // namespace
