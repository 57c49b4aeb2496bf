#include "analysis/plugin_state.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kv::PluginState;
using kv::RenderMode;

kv::FrameConfig sampleConfig() {
    kv::FrameConfig c;
    c.enable = true;
    c.mixFrame = 1;
    c.minScale = 1;
    c.maxScale = 4;
    c.aspectRatioWidth = 9;
    c.aspectRatioHeight = 16;
    c.sensorSize = 36;
    c.focalLength = 50;
    c.paddingTop = 0.1;
    c.paddingBottom = 0.2;
    c.paddingLeft = 0.3;
    c.paddingRight = 0.4;
    c.motionBoxTop = 0.55;
    c.motionBoxBottom = 0.1;
    c.motionBoxLeft = 0.02;
    c.motionBoxRight = 0.98;
    c.minMovedPixels = 20;
    c.easeTimeSmooth = 0.5;
    c.easeTimeMarginPan = 1.5;
    c.easeTimeMarginZoom = 2.5;
    c.easeInTime = 1;
    c.easeOutTime = 2;
    c.minMotionArea = 0.01;
    c.maxMotionArea = 0.9;
    c.brightness = 1.25;
    return c;
}

PluginState sampleState() {
    PluginState s;
    s.motion = {CMTimeMake(100, 30), {{0.1, 0.2, 0.3, 0.4, 50}}};
    s.processedBounds = {CMTimeMake(100, 30), {{0.05, 0.15, 0.35, 0.45, 50}, {0, 0, 0, 0, 0}}};
    s.frameMix = 0.75;
    s.clipTimeFraction = 0.3333333333333333;
    s.enable = true;
    s.renderMode = RenderMode::Exam;
    s.showBounds = true;
    s.motionBox = CGRectMake(0.25, 0.5, 0.5, -0.25);
    s.config = sampleConfig();
    return s;
}

// The sample state's JSON with one member replaced (or removed when value is empty).
std::string stateWith(const char* key, const char* value) {
    kv::json::Value j = kv::encodeJson(sampleState());
    if (*value) {
        j[key] = kv::json::Value::parse(value);
    } else {
        j.erase(key);
    }
    return j.dump();
}

TEST(PluginStateTest, RoundTripKeepsEveryField) {
    const auto text = kv::encodePluginStateText(sampleState());
    ASSERT_TRUE(text.ok());
    const auto back = kv::decodePluginStateText(*text);
    ASSERT_TRUE(back.ok()) << back.error().message;
    EXPECT_EQ(*back, sampleState());
}

TEST(PluginStateTest, KeysAreTheFieldNamesInOrder) {
    const kv::json::Value j = kv::encodeJson(sampleState());
    std::vector<std::string> keys;
    for (const auto& item : j.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"motion", "processedBounds", "frameMix", "clipTimeFraction", "enable",
                                              "renderMode", "showBounds", "motionBox", "config"}));
    EXPECT_EQ(j["renderMode"].dump(), "1");
    EXPECT_EQ(j["motionBox"].dump(), "[[0.25,0.5],[0.5,-0.25]]");
}

TEST(PluginStateTest, RenderModeIsTheBareNumberZeroOrOne) {
    auto mode = kv::decodePluginStateText(stateWith("renderMode", "1"));
    ASSERT_TRUE(mode.ok());
    EXPECT_EQ(mode->renderMode, RenderMode::Exam);
    mode = kv::decodePluginStateText(stateWith("renderMode", "0"));
    ASSERT_TRUE(mode.ok());
    EXPECT_EQ(mode->renderMode, RenderMode::Normal);
    for (const char* bad : {"2", "-1", "\"Exam\"", "1.5", "null"}) {
        EXPECT_FALSE(kv::decodePluginStateText(stateWith("renderMode", bad)).ok()) << bad;
    }
    EXPECT_FALSE(kv::renderModeFromRawValue(2).has_value());
}

TEST(PluginStateTest, MissingOrMistypedMembersFailTheWholeState) {
    EXPECT_FALSE(kv::decodePluginStateText(stateWith("config", "")).ok());
    EXPECT_FALSE(kv::decodePluginStateText(stateWith("enable", "1")).ok());
    EXPECT_FALSE(kv::decodePluginStateText(stateWith("motionBox", "[[0,0],[1]]")).ok());
    EXPECT_FALSE(kv::decodePluginStateText(stateWith("frameMix", "\"0.5\"")).ok());

    kv::json::Value j = kv::encodeJson(sampleState());
    j["config"].erase("brightness");
    EXPECT_FALSE(kv::decodePluginStateText(j.dump()).ok());
    j = kv::encodeJson(sampleState());
    j["config"]["minMovedPixels"] = 2.5;
    EXPECT_FALSE(kv::decodePluginStateText(j.dump()).ok());
}

TEST(PluginStateTest, EncodingFailsOnAnyValueThatIsNotFinite) {
    PluginState s = sampleState();
    s.frameMix = NAN;
    EXPECT_FALSE(kv::encodePluginStateText(s).ok());
    s = sampleState();
    s.config.brightness = INFINITY;
    EXPECT_FALSE(kv::encodePluginStateText(s).ok());
    s = sampleState();
    s.motionBox.size.height = NAN;
    EXPECT_FALSE(kv::encodePluginStateText(s).ok());
    s = sampleState();
    s.processedBounds.bounds[1].maxX = -INFINITY;
    EXPECT_FALSE(kv::encodePluginStateText(s).ok());
}

}  // namespace
