#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "effect_test_support.h"
#include "platform/fxplug/fx_principal.h"
#include "plugin/stat_thread_slot.h"
#include "platform/foundation/log.h"
#include "stats/usage_counter.h"

namespace kv {
namespace {

TEST(EffectObjectTest, HostFindsTheClassByNameAndItAdoptsBothProtocols) {
    auto instance = test::loadEffect();
    ASSERT_TRUE(instance);
    EXPECT_NE(instance->effect(), nullptr);
    EXPECT_NE(instance->analyzer(), nullptr);
}

TEST(EffectObjectTest, NoObjectWithoutAnAPIManager) {
    EXPECT_EQ(FxPrincipal::createPlugIn(kPlugInClassName, nullptr), nullptr);
    EXPECT_EQ(KestrelvantagePlugIn::init(), nullptr);
}

TEST(EffectObjectTest, PropertiesHoldExactlyTheFiveEntries) {
    auto instance = test::loadEffect();
    NSDictionary properties{{"stale", FxValue("entry")}};
    NSError error{"untouched", 9, ""};
    EXPECT_TRUE(instance->effect()->properties(&properties, &error));
    EXPECT_EQ(error.domain, "untouched");
    const NSDictionary expected{
        {"MayRemapTime", NSNumber::boolean(false)},
        {"PixelTransformSupport", NSNumber::integer(1)},
        {"NeedsFullBuffer", NSNumber::boolean(true)},
        {"ChangesOutputSize", NSNumber::boolean(true)},
        {"VariesWhenParamsAreStatic", NSNumber::boolean(true)},
    };
    EXPECT_EQ(properties, expected);
}

TEST(EffectObjectTest, PropertiesWithoutAPlaceStoreNothingAndSucceed) {
    auto instance = test::loadEffect();
    EXPECT_TRUE(instance->effect()->properties(nullptr, nullptr));
}

TEST(EffectObjectTest, CustomParametersHoldDictionariesEverythingElseNull) {
    auto instance = test::loadEffect();
    FxTileableEffect* effect = instance->effect();
    EXPECT_EQ(effect->classForCustomParameterID(4), FxClass::NSDictionary);
    EXPECT_EQ(effect->classForCustomParameterID(5), FxClass::NSDictionary);
    for (uint32_t id : {0u, 13u, 102u}) EXPECT_EQ(effect->classForCustomParameterID(id), FxClass::NSNull) << id;
}

TEST(EffectObjectTest, ConstructionAndDestructionCallNoHostService) {
    auto instance = test::loadEffect();
    instance->releaseEffect();
    EXPECT_TRUE(instance->calls().calls().empty());
}

TEST(EffectObjectTest, LaterOperationsFindTheManagerGoneOnceTheHostDropsIt) {
    auto instance = test::loadEffect();
    instance->releaseAPIManager();
    EXPECT_TRUE(instance->effect()->addParametersWithError(nullptr));
    EXPECT_TRUE(instance->calls().calls().empty());
}

// The statistics-thread slot belongs to the process, so these checks run in
// a process of their own, where no effect object has been made yet.
void expectInFreshProcess(void (*body)()) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            std::exit(::testing::Test::HasFailure() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

struct StarterRecord {
    std::atomic<int> starts{0};
    std::weak_ptr<Counter> counter;
};

StarterRecord& recordStarts() {
    static StarterRecord record;
    StatThreadSlot::process().setStarter([](std::weak_ptr<Counter> counter) {
        record.starts++;
        record.counter = counter;
        return std::shared_ptr<void>();
    });
    return record;
}

TEST(EffectObjectTest, FirstEffectObjectFillsTheSlotWithItsCounter) {
    expectInFreshProcess([] {
        StarterRecord& record = recordStarts();
        EXPECT_FALSE(StatThreadSlot::process().filled());
        auto first = test::loadEffect();
        auto second = test::loadEffect();
        EXPECT_EQ(record.starts, 1);
        EXPECT_TRUE(StatThreadSlot::process().filled());
        // The thread is bound to the first object's counter: it goes with it.
        second.reset();
        EXPECT_FALSE(record.counter.expired());
        first.reset();
        EXPECT_TRUE(record.counter.expired());
        auto third = test::loadEffect();
        EXPECT_EQ(record.starts, 1);
    });
}

TEST(EffectObjectConcurrencyTest, EffectObjectsMadeAtOnceStartOneThread) {
    expectInFreshProcess([] {
        StarterRecord& record = recordStarts();
        std::atomic<bool> go{false};
        std::vector<std::unique_ptr<host::EffectInstance>> instances(4);
        std::vector<std::thread> threads;
        for (auto& slot : instances) {
            threads.emplace_back([&go, &slot] {
                while (!go) std::this_thread::yield();
                slot = test::loadEffect();
            });
        }
        go = true;
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(record.starts, 1);
        for (const auto& instance : instances) EXPECT_TRUE(instance);
    });
}

}  // namespace
}  // namespace kv

namespace {

TEST(EffectObjectTest, SlotStaysFilledWhenTheThreadCannotStart) {
    kv::LogCapture log;
    int starts = 0;
    kv::StatThreadSlot slot([&](std::weak_ptr<kv::Counter>) -> std::shared_ptr<void> {
        ++starts;
        throw std::runtime_error("no threads left");
    });
    const auto counter = std::make_shared<kv::Counter>();
    EXPECT_TRUE(slot.fillOnce(counter));
    EXPECT_TRUE(slot.filled());
    EXPECT_FALSE(slot.fillOnce(counter));
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(log.count("Unable to start the statistics thread: no threads left"), 1u);
}

}  // namespace
