#include <gtest/gtest.h>

#include "platform/foundation/bundle.h"
#include "state_test_support.h"

namespace kv {
namespace {

using FrameSettingsTest = test::PluginStateTest;
using Cache = KestrelvantagePlugIn::ConfigCache;

TEST_F(FrameSettingsTest, ReadsTheTwentyThreeSettingsInOrderAtTheTimeAsked) {
    // Each setting keyed from 0 at time 0 to its row number at 10 s: at 5 s
    // every one is half its row number.
    const auto& rows = test::settingRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_TRUE(instance->document().setFloatKeyframe(rows[i].id, CMTimeMake(0, 30), 0.0));
        ASSERT_TRUE(instance->document().setFloatKeyframe(rows[i].id, CMTimeMake(300, 30), double(2 * (i + 1))));
    }
    const CMTime at = CMTimeMake(150, 30);
    Cache cache;
    const FrameConfig config = plugin->readFrameConfig(cache, at);

    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(config.*rows[i].member, double(i + 1)) << rows[i].field;
    EXPECT_TRUE(config.enable);
    EXPECT_EQ(config.minMovedPixels, 200);
    std::vector<host::HostCall> expected;
    for (const auto& row : rows) expected.push_back({"getFloatValue", row.id, at});
    EXPECT_EQ(instance->calls().calls(), expected);
}

TEST_F(FrameSettingsTest, UnansweredReadsKeepTheStartingValues) {
    Cache cache;
    instance->retrieval().setRefusing(true);
    EXPECT_EQ(plugin->readFrameConfig(cache, CMTimeMake(1, 30)), test::startingSettings());
    EXPECT_EQ(cache[30].size(), 1u);  // a refusing host is still asked only once

    // A host that has withdrawn the service gets the starting values, and is
    // asked again once it offers the service.
    instance->retrieval().setRefusing(false);
    ASSERT_TRUE(instance->document().setFloatValue(param::brightness, 0.5));
    instance->apiManager().setAvailability(FxProtocol::FxParameterRetrievalAPI_v6, host::ServiceAvailability::withheld);
    EXPECT_EQ(plugin->readFrameConfig(cache, CMTimeMake(2, 30)), test::startingSettings());
    instance->apiManager().setAvailability(FxProtocol::FxParameterRetrievalAPI_v6, host::ServiceAvailability::provided);
    EXPECT_EQ(plugin->readFrameConfig(cache, CMTimeMake(2, 30)).brightness, 0.5);
}

TEST_F(FrameSettingsTest, CachedByTimescaleAndValueOnly) {
    Cache cache;
    CMTime time = CMTimeMake(1, 30);
    const FrameConfig first = plugin->readFrameConfig(cache, time);
    EXPECT_EQ(floatReads(), 23u);

    // Other flags and epoch: the same entry, even after the host's value changed.
    ASSERT_TRUE(instance->document().setFloatValue(param::brightness, 0.25));
    time.flags |= kCMTimeFlags_HasBeenRounded;
    time.epoch = 7;
    EXPECT_EQ(plugin->readFrameConfig(cache, time), first);
    EXPECT_EQ(floatReads(), 23u);

    // The same instant in another timescale is another entry, read anew.
    EXPECT_EQ(plugin->readFrameConfig(cache, CMTimeMake(2, 60)).brightness, 0.25);
    EXPECT_EQ(floatReads(), 46u);
    EXPECT_EQ(cache.size(), 2u);
}

TEST_F(FrameSettingsTest, AFullTimescaleIsEmptiedBeforeItsNextNewTime) {
    Cache cache;
    for (int64_t v = 0; v < 3600; ++v) cache[30][v] = FrameConfig{};
    cache[60][0] = FrameConfig{};

    // A stored time is answered from the cache; a new one empties the full map.
    EXPECT_EQ(plugin->readFrameConfig(cache, CMTimeMake(3599, 30)), FrameConfig{});
    EXPECT_EQ(floatReads(), 0u);
    const CMTime next = CMTimeMake(3600, 30);
    EXPECT_EQ(plugin->readFrameConfig(cache, next), test::documentSettings(instance->document(), next));
    ASSERT_EQ(cache[30].size(), 1u);
    EXPECT_EQ(cache[30].begin()->first, 3600);
    EXPECT_EQ(cache[60].size(), 1u);

    // Below the limit nothing is dropped.
    for (int64_t v = 1; v < 3599; ++v) cache[30][v] = FrameConfig{};
    plugin->readFrameConfig(cache, CMTimeMake(-1, 30));
    EXPECT_EQ(cache[30].size(), 3600u);
}

TEST_F(FrameSettingsTest, AnyChangeEmptiesTheCurrentAnalysisSettingsOrAllWithoutOne) {
    const CMTime at = CMTimeMake(3, 30);
    LogCapture log;
    storeHashOnly("hash A");
    EXPECT_EQ(floatReadsOfState(at), 23u);
    storeHashOnly("hash B");
    EXPECT_EQ(floatReadsOfState(at), 23u);
    EXPECT_EQ(floatReadsOfState(at), 0u);  // put back by the frame before

    plugin->clearConfigCache(std::string("hash C"));  // not cached: nothing changes
    EXPECT_EQ(floatReadsOfState(at), 0u);

    // Even a toggle that feeds no setting; only B's settings go.
    log.clear();
    changeToggle(param::showBounds, true);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Parameter changed"});
    EXPECT_EQ(floatReadsOfState(at), 23u);
    storeHashOnly("hash A");
    EXPECT_EQ(floatReadsOfState(at), 0u);

    // Without a stored hash, every analysis's settings go.
    forgetHash();
    change(param::beginScale, 2.0);
    EXPECT_EQ(floatReadsOfState(at), 0u);  // the empty state reads none
    storeHashOnly("hash A");
    EXPECT_EQ(floatReadsOfState(at), 23u);
    storeHashOnly("hash B");
    EXPECT_EQ(floatReadsOfState(at), 23u);
}

TEST_F(FrameSettingsTest, VersionParameterIsWrittenOnlyWhenItDiffers) {
    ScopedMainBundleInfo bundle(NSBundle::InfoDictionary{{"CFBundleShortVersionString", std::string("2.5")}});
    ASSERT_TRUE(instance->document().setStringValue(param::pluginVersion, "1.0"));
    LogCapture log;
    plugin->refreshStringParameters();
    plugin->refreshStringParameters();
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"App version 2.5 vs 1.0", "App version 2.5 vs 2.5"}));
    EXPECT_EQ(instance->document().stringValue(param::pluginVersion), "2.5");
    EXPECT_EQ(instance->calls().count("setStringParameterValue"), 1u);

    // A host that gives no answer leaves "", which differs, so it is written.
    instance->retrieval().setRefusing(true);
    plugin->refreshStringParameters();
    EXPECT_EQ(log.lines().back(), "App version 2.5 vs ");
    EXPECT_EQ(instance->calls().count("setStringParameterValue"), 2u);
}

TEST_F(FrameSettingsTest, VersionRefreshEndsSilentlyWithoutEitherService) {
    LogCapture log;
    for (FxProtocol missing : {FxProtocol::FxParameterRetrievalAPI_v6, FxProtocol::FxParameterSettingAPI_v6}) {
        instance->apiManager().setAvailability(missing, host::ServiceAvailability::wrongKind);
        plugin->refreshStringParameters();
        instance->apiManager().setAvailability(missing, host::ServiceAvailability::provided);
    }
    instance->releaseAPIManager();
    plugin->refreshStringParameters();
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(instance->calls().calls().empty());
}

}  // namespace
}  // namespace kv
