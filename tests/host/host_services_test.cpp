#include "host/host_services.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kv::host {
namespace {

class HostServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        creation.addFloatSliderWithName("Frame time", 38, 2.0, 0, 10, 0, 10, 0.1, 0);
        creation.addCustomParameterWithName("Analysis Data", 4, NSDictionary{}, 3);
        creation.addStringParameterWithName("Plugin version", 13, "1.0", 21);
        log.clear();
    }

    ParameterDocument document;
    CallLog log;
    ParameterCreationService creation{document, log};
    ParameterRetrievalService retrieval{document, log};
    CustomParameterSettingService customSetting{document, log};
    StringParameterSettingService stringSetting{document, log};
};

TEST_F(HostServicesTest, RetrievalWritesTheValueOrLeavesThePlace) {
    double value = -1;
    EXPECT_TRUE(retrieval.getFloatValue(&value, 38, CMTimeMake(1, 30)));
    EXPECT_EQ(value, 2.0);
    value = -1;
    EXPECT_FALSE(retrieval.getFloatValue(&value, 99, kCMTimeZero));
    EXPECT_EQ(value, -1);

    retrieval.setRefusing(true);
    std::string text = "";
    EXPECT_FALSE(retrieval.getStringParameterValue(&text, 13));
    EXPECT_EQ(text, "");
    EXPECT_EQ(log.calls().back(), (HostCall{"getStringParameterValue", 13, kCMTimeInvalid}));
    EXPECT_EQ(log.count("getFloatValue"), 2u);
}

TEST_F(HostServicesTest, CustomValuesAreReadWholeAndSettingCanBeRefused) {
    const FxValue stored(NSDictionary{{"AnalysisHash", FxValue(dataFromText("h"))}});
    EXPECT_TRUE(customSetting.setCustomParameterValue(stored, 4, kCMTimeZero));
    std::optional<FxValue> read;
    EXPECT_TRUE(retrieval.getCustomParameterValue(&read, 4, CMTimeMake(0, 30)));
    EXPECT_EQ(read, stored);

    customSetting.setRefusing(true);
    EXPECT_FALSE(customSetting.setCustomParameterValue(FxValue(), 4, kCMTimeZero));
    EXPECT_EQ(document.customValue(4), stored);
    stringSetting.setRefusing(true);
    EXPECT_FALSE(stringSetting.setStringParameterValue("2.0", 13));
    EXPECT_EQ(document.stringValue(13), "1.0");
    EXPECT_EQ(log.calls()[0], (HostCall{"setCustomParameterValue", 4, kCMTimeZero}));
}

TEST_F(HostServicesTest, CreationRefusesChosenParameters) {
    creation.refuseParameter(31);
    EXPECT_FALSE(creation.addPercentSliderWithName("Minimum scale", 31, 1, 1, 10, 1, 4, 0.1, 0));
    EXPECT_TRUE(creation.addPercentSliderWithName("Maximum scale", 32, 3, 1, 10, 1, 4, 0.1, 0));
    EXPECT_FALSE(document.parameter(31));
    EXPECT_EQ(log.count("addPercentSliderWithName"), 2u);
}

TEST(TimingServiceTest, AnswersTheEffectsTimingOrLeavesThePlaces) {
    ParameterDocument document;
    CallLog log;
    TimingService timing(document, log);
    timing.setTiming(EffectTiming{CMTimeMake(10, 1), CMTimeMake(5, 1), 24000, 1001, CMTimeMake(1001, 24000)});
    CMTime start = kCMTimeZero;
    CMTime duration = CMTimeMake(1, 100);
    timing.startTimeForEffect(&start);
    timing.durationTimeForEffect(&duration);
    EXPECT_EQ(start, CMTimeMake(10, 1));
    EXPECT_EQ(duration, CMTimeMake(5, 1));
    EXPECT_EQ(timing.timelineFpsNumeratorForEffect(nullptr), 24000u);

    timing.setRefusing(true);
    CMTime frame = CMTimeMake(0, 100);
    timing.frameDuration(&frame);
    EXPECT_EQ(frame, CMTimeMake(0, 100));
    EXPECT_EQ(timing.timelineFpsDenominatorForEffect(nullptr), 0u);
}

TEST(HostAPIManagerTest, ServicesCanBeWithheldOrAnsweredWithTheWrongKind) {
    ParameterDocument document;
    CallLog log;
    HostAPIManager manager;
    manager.provide(FxProtocol::FxTimingAPI_v4, std::make_shared<TimingService>(document, log));
    EXPECT_TRUE(fxAPI<FxTimingAPI_v4>(manager));
    EXPECT_FALSE(fxAPI<FxAnalysisAPI_v2>(manager));  // never provided

    manager.setAvailability(FxProtocol::FxTimingAPI_v4, ServiceAvailability::wrongKind);
    EXPECT_TRUE(manager.apiForProtocol(FxProtocol::FxTimingAPI_v4));
    EXPECT_FALSE(fxAPI<FxTimingAPI_v4>(manager));
    manager.setAvailability(FxProtocol::FxTimingAPI_v4, ServiceAvailability::withheld);
    EXPECT_FALSE(manager.apiForProtocol(FxProtocol::FxTimingAPI_v4));
    manager.setAvailability(FxProtocol::FxTimingAPI_v4, ServiceAvailability::provided);
    EXPECT_TRUE(fxAPI<FxTimingAPI_v4>(manager));
}

}  // namespace
}  // namespace kv::host

namespace kv::host {
namespace {

TEST(HostServicesConcurrencyTest, ValuesAreReadAndWrittenFromManyThreads) {
    ParameterDocument document;
    CallLog log;
    ParameterCreationService creation(document, log);
    ParameterRetrievalService retrieval(document, log);
    CustomParameterSettingService setting(document, log);
    creation.addFloatSliderWithName("Frame time", 38, 2.0, 0, 10, 0, 10, 0.1, 0);
    creation.addCustomParameterWithName("Analysis Hash", 5, NSDictionary{}, 3);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                double value = 0;
                retrieval.getFloatValue(&value, 38, CMTimeMake(i, 30));
                document.setFloatKeyframe(38, CMTimeMake(i, 30), t);
                setting.setCustomParameterValue(FxValue(dataFromText(std::to_string(i))), 5, kCMTimeZero);
                std::optional<FxValue> read;
                retrieval.getCustomParameterValue(&read, 5, kCMTimeZero);
                EXPECT_TRUE(read && read->data());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(log.count("getFloatValue"), 800u);
}

}  // namespace
}  // namespace kv::host
