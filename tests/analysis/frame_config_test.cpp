#include "analysis/frame_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every member has a value of its own, so a key read into the wrong field shows.
constexpr const char* kSettingsText = R"({
    "enable": true, "mixFrame": 0.5, "minScale": 1.25, "maxScale": 3.5,
    "aspectRatioWidth": 1920, "aspectRatioHeight": 1080, "sensorSize": 36, "focalLength": 24,
    "paddingTop": 0.3, "paddingBottom": 0.35, "paddingLeft": 0.15, "paddingRight": 0.2,
    "motionBoxTop": 0.55, "motionBoxBottom": 0.1, "motionBoxLeft": 0.02, "motionBoxRight": 0.98,
    "minMovedPixels": 200, "easeTimeSmooth": 2.5, "easeTimeMarginPan": 4.5, "easeTimeMarginZoom": 5.5,
    "easeInTime": 0.75, "easeOutTime": 1.5, "minMotionArea": 0.001, "maxMotionArea": 0.9, "brightness": 1.1
})";

TEST(FrameConfigTest, DecodesEachMemberIntoTheFieldOfItsName) {
    const auto decoded = kv::json::decodeText(kSettingsText, kv::decodeFrameConfig);
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    const kv::FrameConfig& c = *decoded;
    EXPECT_EQ(c.enable, true);
    EXPECT_EQ(c.mixFrame, 0.5);
    EXPECT_EQ(c.minScale, 1.25);
    EXPECT_EQ(c.maxScale, 3.5);
    EXPECT_EQ(c.aspectRatioWidth, 1920);
    EXPECT_EQ(c.aspectRatioHeight, 1080);
    EXPECT_EQ(c.sensorSize, 36);
    EXPECT_EQ(c.focalLength, 24);
    EXPECT_EQ(c.paddingTop, 0.3);
    EXPECT_EQ(c.paddingBottom, 0.35);
    EXPECT_EQ(c.paddingLeft, 0.15);
    EXPECT_EQ(c.paddingRight, 0.2);
    EXPECT_EQ(c.motionBoxTop, 0.55);
    EXPECT_EQ(c.motionBoxBottom, 0.1);
    EXPECT_EQ(c.motionBoxLeft, 0.02);
    EXPECT_EQ(c.motionBoxRight, 0.98);
    EXPECT_EQ(c.minMovedPixels, 200);
    EXPECT_EQ(c.easeTimeSmooth, 2.5);
    EXPECT_EQ(c.easeTimeMarginPan, 4.5);
    EXPECT_EQ(c.easeTimeMarginZoom, 5.5);
    EXPECT_EQ(c.easeInTime, 0.75);
    EXPECT_EQ(c.easeOutTime, 1.5);
    EXPECT_EQ(c.minMotionArea, 0.001);
    EXPECT_EQ(c.maxMotionArea, 0.9);
    EXPECT_EQ(c.brightness, 1.1);
}

TEST(FrameConfigTest, EncodesTheFieldNamesInDeclarationOrder) {
    const auto decoded = kv::json::decodeText(kSettingsText, kv::decodeFrameConfig);
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    const kv::json::Value j = kv::encodeJson(*decoded);
    std::vector<std::string> keys;
    for (const auto& item : j.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{
                        "enable",          "mixFrame",          "minScale",          "maxScale",
                        "aspectRatioWidth", "aspectRatioHeight", "sensorSize",        "focalLength",
                        "paddingTop",      "paddingBottom",     "paddingLeft",       "paddingRight",
                        "motionBoxTop",    "motionBoxBottom",   "motionBoxLeft",     "motionBoxRight",
                        "minMovedPixels",  "easeTimeSmooth",    "easeTimeMarginPan", "easeTimeMarginZoom",
                        "easeInTime",      "easeOutTime",       "minMotionArea",     "maxMotionArea",
                        "brightness"}));
    EXPECT_TRUE(j["enable"].is_boolean());
    EXPECT_TRUE(j["minMovedPixels"].is_number_integer());
    EXPECT_EQ(j, kv::json::Value::parse(kSettingsText));
}

}  // namespace
