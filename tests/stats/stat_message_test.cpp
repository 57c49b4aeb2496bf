#include "stats/stat_message.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/json_encoder.h"
#include "stats/stat_io.h"
#include "tests/stats/stats_test_support.h"

namespace kv {
namespace {

std::string encoded(const Message& message) {
    auto text = JSONEncoder().encode(message);
    EXPECT_TRUE(text.ok()) << (text.ok() ? "" : text.error().message);
    return text.ok() ? *text : "";
}

// The message the statistics thread would make of `counter` now.
Message messageOf(Counter& counter) {
    Message message = makeUsageMessage(42);
    const Counter::Locked locked = counter.lock();
    message.usg = Message::UsageInfo::makeUsageInfo(locked);
    message.pfm = Message::PerformanceInfo::makePerformanceInfo(locked);
    if (!locked.debug.debugMessages.empty()) message.dbg = Message::DebugInfo{locked.debug.debugMessages};
    return message;
}

TEST(StatMessageTest, MessageOfAFreshCounterHasEmptyUsageAndNoDebugRecord) {
    test::StatsWorld world;
    Counter counter;
    EXPECT_EQ(encoded(messageOf(counter)),
              R"({"t":1700000000123,"tac":0,"evt":"",)"
              R"("app":{"act":"FxPlug","pkg":"com.orbelwick.fx_kestrelvantage","ver":"1.2.3","ins":42},)"
              R"("dev":{"typ":"computer","mfg":"Apple","mdl":"arm64","rgn":"US","lng":"en","osn":"MacOS",)"
              R"("osv":"Linux 6.1.0"},"usg":{},"pfm":{}})");
}

TEST(StatMessageTest, EachFeatureGivesOnlyTheKeysItHoldsUnderItsOwnKey) {
    test::StatsWorld world;
    Counter counter;
    {
        const Counter::Locked locked = counter.lock();
        for (int i = 0; i < 5; ++i) locked.usage.analyzedFrames.countEvent();
        locked.usage.sourceResolution.recordString("1920x1080");
        locked.usage.sourceResolution.recordString("1280x720");
        locked.usage.sourceResolution.recordString("1920x1080");
        locked.usage.analyzeAction.recordString("started");
        locked.usage.renderScale.recordFloat(0.5f);
        locked.usage.renderScale.recordFloat(0.1f);
        locked.usage.renderScale.recordFloat(1.0f);
        locked.performance.renderSpeedFps.recordFloat(24.25f);
        locked.debug.debugMessages = {"first", "second"};
    }
    const std::string text = encoded(messageOf(counter));
    const auto tail = text.substr(text.find(R"("usg")"));
    EXPECT_EQ(tail, R"("usg":{"acnanz":{"ls":"started","en":{"started":1}},"frmanz":{"c":5},)"
                    R"("ressrc":{"ls":"1920x1080","en":{"1280x720":1,"1920x1080":2}},)"
                    R"("renscl":{"fmn":0.1,"fmx":1.0,"ff":0.5,"lf":1.0}},)"
                    R"("pfm":{"fpsren":{"fmn":24.25,"fmx":24.25,"ff":24.25,"lf":24.25}},)"
                    R"("dbg":{"msg":["first","second"]}})");

    // After a reset a Feature that received nothing since gives no key.
    counter.lock().usage.resetAll();
    counter.lock().usage.showExam.countEvent();
    const std::string after = encoded(messageOf(counter));
    EXPECT_NE(after.find(R"("usg":{"shwexm":{"c":1}},"pfm":{"fpsren")"), std::string::npos) << after;
}

TEST(StatMessageTest, CountWritesEveryKeyOfTheFormatThatIsSet) {
    Counter::Feature feature;
    feature.count = -3;
    feature.duration = 7;
    feature.min = -1;
    feature.max = 9;
    feature.firstInt = 2;
    feature.lastInt = 4;
    feature.active = 5;  // not part of the message form
    feature.timeStart = 6;
    const Message::Count count = Message::Count::makeCount(feature);
    EXPECT_TRUE(count.hasData());
    EXPECT_EQ(JSONEncoder::text(encodeJson(count)), R"({"c":-3,"d":7,"mn":-1,"mx":9,"fi":2,"li":4})");
    EXPECT_FALSE(Message::Count::makeCount(Counter::Feature{}).hasData());
}

TEST(StatMessageTest, DeviceRecordFallsBackWhereThePlatformGivesNothing) {
    test::StatsWorld world;
    struct Case {
        const char* locale;
        const char* lng;
        const char* rgn;
    };
    for (const Case& c : {Case{"en_US", "en", "US"}, Case{"fr", "fr", ""}, Case{"zh_Hans_CN", "zh", "Hans"},
                          Case{"", "", ""}, Case{"__", "", ""}, Case{"_de__AT_", "de", "AT"}}) {
        ScopedHostDescription host({"x86_64", c.locale, "Linux"});
        Message::DeviceInfo dev;
        dev.fillDeviceInfo();
        EXPECT_EQ(dev.lng, c.lng) << c.locale;
        EXPECT_EQ(dev.rgn, c.rgn) << c.locale;
        EXPECT_EQ(dev.mdl, "x86_64");
    }
    ScopedHostDescription host({"arm\xff", "en", "Linux"});
    Message::DeviceInfo dev;
    dev.fillDeviceInfo();
    EXPECT_EQ(dev.mdl, "?");
    EXPECT_EQ(dev.mfg, "Apple");
}

TEST(StatMessageTest, AppRecordFallsBackToQuestionMarks) {
    test::StatsWorld world;
    for (const auto& info : {NSBundle::InfoDictionary{{"CFBundleShortVersionString", 2.0}},
                             NSBundle::InfoDictionary{{"CFBundleIdentifier", 7.0}}}) {
        ScopedMainBundleInfo bundle(info);
        Message::AppInfo app;
        app.ins = 9;
        app.fillAppInfo();
        EXPECT_EQ(app.act, "FxPlug");
        EXPECT_EQ(app.pkg, "?");
        EXPECT_EQ(app.ver, "?");
        EXPECT_EQ(app.ins, 9u);
    }
}

TEST(StatMessageTest, NonFiniteFloatFailsTheWholeMessage) {
    test::StatsWorld world;
    for (const float bad : {std::nanf(""), std::numeric_limits<float>::infinity()}) {
        Counter counter;
        counter.lock().usage.renderScale.lastFlt = bad;  // as no recording leaves it
        EXPECT_FALSE(JSONEncoder().encode(messageOf(counter)).ok());
    }
}

TEST(StatMessageTest, TextThatIsNotUtf8IsWrittenAsReplacementCharacters) {
    test::StatsWorld world;
    Counter counter;
    counter.lock().usage.destinationResolution.recordString("4K\xff");
    const std::string text = encoded(messageOf(counter));
    EXPECT_NE(text.find("\"ls\":\"4K\xEF\xBF\xBD\""), std::string::npos) << text;
}

TEST(StatMessageTest, TimeIsMillisecondsSince1970TruncatedAndNeverNegative) {
    test::StatsWorld world;
    world.setDate(1.9999);
    EXPECT_EQ(Message().t, 1999u);
    world.setDate(-5);
    EXPECT_EQ(Message().t, 0u);
    const Message made;
    EXPECT_EQ(made.tac, 0u);
    EXPECT_EQ(made.evt, "");
    EXPECT_FALSE(made.app || made.dev || made.usg || made.pfm || made.dbg);
}

}  // namespace
}  // namespace kv
