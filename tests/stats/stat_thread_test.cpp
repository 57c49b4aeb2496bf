#include "stats/stat_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "platform/foundation/ns_thread.h"
#include "platform/foundation/process_setting.h"
#include "stats/stat_io.h"
#include "stats/usage_counter.h"
#include "tests/stats/stats_test_support.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

// Stands in for the thread's sleep: the test sees each sleep begin and
// decides when it ends.
class ManualSleeper {
public:
    // Waits until the `n`th sleep has begun.
    bool waitForSleep(size_t n) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return intervals_.size() >= n; });
    }
    void wake() {
        std::lock_guard lock(mutex_);
        ++wakes_;
        changed_.notify_all();
    }
    // Ends every sleep, now and later.
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    std::vector<double> intervals() {
        std::lock_guard lock(mutex_);
        return intervals_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<double> intervals_;
    size_t wakes_ = 0;
    bool released_ = false;
    // Installed last, once what it uses is there.
    ScopedOverride<Sleeper> installed_{setSleeper, [this](double seconds) {
                                           std::unique_lock lock(mutex_);
                                           intervals_.push_back(seconds);
                                           changed_.notify_all();
                                           const size_t mine = intervals_.size();
                                           changed_.wait(lock, [&] { return released_ || wakes_ >= mine; });
                                       }};
};

class StatThreadConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(server.failure(), ""); }
    void TearDown() override {
        // Also after a failed assertion: let the thread end before the rest goes.
        counter.reset();
        sleeper.release();
        thread.reset();
    }

    test::HttpsTestServer server;
    test::StatsWorld world;
    ScopedOverride<std::string> endpoint{setStatisticsEndpoint, server.url()};
    ScopedOverride<std::string> trust{setTrustedCertificatesFile, server.certificate().string()};
    ManualSleeper sleeper;
    std::shared_ptr<Counter> counter = std::make_shared<Counter>();
    std::shared_ptr<StatThread> thread;
};

TEST_F(StatThreadConcurrencyTest, SendsAtOnceThenAfterEachSleepUntilTheCounterIsGone) {
    {
        const Counter::Locked locked = counter->lock();
        locked.usage.analyzedFrames.countEvent();
        locked.performance.analysisSpeedFps.recordFloat(30);
        locked.debug.debugMessages = {"saved"};
    }
    thread = startStatThread(counter);
    ASSERT_TRUE(thread);

    // The first message goes out before any sleep, and its counts are reset.
    ASSERT_TRUE(sleeper.waitForSleep(1));
    ASSERT_TRUE(server.waitForRequests(1));
    const std::string first = server.requests()[0].body;
    EXPECT_NE(first.find(R"("usg":{"frmanz":{"c":1}},"pfm":{"fpsanz":)"), std::string::npos) << first;
    EXPECT_NE(first.find(R"("dbg":{"msg":["saved"]})"), std::string::npos) << first;
    EXPECT_NE(first.find(R"("ins":1700000000123)"), std::string::npos) << first;
    {
        const Counter::Locked locked = counter->lock();
        EXPECT_EQ(locked.usage, Counter::UsageCount{});
        EXPECT_EQ(locked.performance, Counter::PerformanceInfo{});
        EXPECT_TRUE(locked.debug.debugMessages.empty());
        locked.usage.renderedFrames.countEvent();
    }

    // After the sleep: only what came since, and no debug record.
    sleeper.wake();
    ASSERT_TRUE(sleeper.waitForSleep(2));
    ASSERT_TRUE(server.waitForRequests(2));
    const std::string second = server.requests()[1].body;
    EXPECT_NE(second.find(R"("usg":{"frmren":{"c":1}},"pfm":{}})"), std::string::npos) << second;

    // Gone during the sleep: the thread ends when it wakes, sending nothing more.
    counter.reset();
    sleeper.wake();
    thread.reset();  // waits for the thread to end
    EXPECT_EQ(sleeper.intervals(), (std::vector<double>{600.0, 600.0}));
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(StatThreadConcurrencyTest, ThreadWhoseCounterIsAlreadyGoneEndsWithoutSending) {
    {
        StatThread idle;
        idle.counter = counter;
        counter.reset();
        idle.start();
    }  // waits for the thread to end
    EXPECT_TRUE(sleeper.intervals().empty());
    EXPECT_TRUE(world.log.lines().empty());
}

TEST_F(StatThreadConcurrencyTest, FailedEncodingKeepsEveryCountAndServerErrorsDoNot) {
    {
        const Counter::Locked locked = counter->lock();
        locked.usage.renderScale.lastFlt = std::nanf("");  // as no recording leaves it
        locked.usage.showBounds.countEvent();
        locked.debug.debugMessages = {"kept"};
    }
    thread = startStatThread(counter);
    ASSERT_TRUE(sleeper.waitForSleep(1));
    {
        const Counter::Locked locked = counter->lock();
        EXPECT_EQ(locked.usage.showBounds.count, 1);
        EXPECT_EQ(locked.debug.debugMessages, std::vector<std::string>{"kept"});
        locked.usage.renderScale.reset();
    }
    EXPECT_TRUE(world.log.lines().empty());

    // With the float gone, the next message carries the counts of both
    // periods, and a failing server does not keep them.
    server.answer(500, "no");
    sleeper.wake();
    ASSERT_TRUE(sleeper.waitForSleep(2));
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_NE(server.requests()[0].body.find(R"("shwbnd":{"c":1})"), std::string::npos);
    EXPECT_EQ(counter->lock().usage, Counter::UsageCount{});
    EXPECT_TRUE(world.out.waitForLineStartingWith("Status code should be 2xx but is 500", 20s));
}

TEST(StatThreadStarterConcurrencyTest, BuildWithoutAnEndpointStartsNoThread) {
    const ScopedOverride<std::string> noEndpoint(setStatisticsEndpoint, "");
    const auto counter = std::make_shared<Counter>();
    EXPECT_EQ(startStatThread(counter), nullptr);
}

}  // namespace
}  // namespace kv
