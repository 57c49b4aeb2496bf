#include "platform/dispatch/dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace kv {
namespace {

TEST(DispatchTest, EveryIterationRunsOnceInPiecesOfAtMostTheGrain) {
    std::vector<std::atomic<int>> runs(1000);
    std::atomic<size_t> largestPiece{0};
    dispatch::concurrentPerform(runs.size(), 7, [&](size_t begin, size_t end) {
        size_t seen = largestPiece.load();
        while (end - begin > seen && !largestPiece.compare_exchange_weak(seen, end - begin)) {
        }
        for (size_t i = begin; i < end; ++i) ++runs[i];
    });
    EXPECT_TRUE(std::all_of(runs.begin(), runs.end(), [](const std::atomic<int>& n) { return n == 1; }));
    EXPECT_LE(largestPiece.load(), 7u);
    EXPECT_GE(largestPiece.load(), 1u);
}

TEST(DispatchTest, ACountWithinTheGrainRunsAtOnceOnTheCallingThread) {
    const std::thread::id caller = std::this_thread::get_id();
    int pieces = 0;
    dispatch::concurrentPerform(5, 5, [&](size_t begin, size_t end) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_EQ(begin, 0u);
        EXPECT_EQ(end, 5u);
        ++pieces;
    });
    EXPECT_EQ(pieces, 1);
    dispatch::concurrentPerform(0, 1, [&](size_t, size_t) { ++pieces; });
    EXPECT_EQ(pieces, 1);
}

TEST(DispatchTest, ALimitHoldsWhileItLives) {
    const size_t unlimited = dispatch::maximumConcurrency();
    {
        const dispatch::ConcurrencyLimit limit(2);
        EXPECT_EQ(dispatch::maximumConcurrency(), 2u);
        const dispatch::ConcurrencyLimit none(0);  // taken as 1
        EXPECT_EQ(dispatch::maximumConcurrency(), 1u);
    }
    EXPECT_EQ(dispatch::maximumConcurrency(), unlimited);
}

TEST(DispatchConcurrencyTest, LoopsStartedFromSeveralThreadsEachCoverTheirOwnRange) {
    constexpr size_t kLoops = 4, kCount = 20000;
    std::vector<std::vector<uint32_t>> values(kLoops, std::vector<uint32_t>(kCount));
    std::vector<std::thread> threads;
    for (size_t loop = 0; loop < kLoops; ++loop) {
        threads.emplace_back([&values, loop] {
            dispatch::concurrentPerform(kCount, [&](size_t i) { values[loop][i] = uint32_t(i * (loop + 1)); });
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t loop = 0; loop < kLoops; ++loop) {
        for (size_t i = 0; i < kCount; ++i) ASSERT_EQ(values[loop][i], uint32_t(i * (loop + 1))) << loop << "," << i;
    }
}

}  // namespace
}  // namespace kv
