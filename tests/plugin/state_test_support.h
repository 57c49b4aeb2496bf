#pragma once
// Asks the effect for frame states as the host does, with a stored analysis
// and parameter values the test sets in the host's document.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "analysis/plugin_state.h"
#include "analysis_test_support.h"

namespace kv::test {

// The framing settings as the parameters give them: field, parameter id and
// the value a reader starts from, in the order they are read.
struct SettingRow {
    const char* field;
    double FrameConfig::*member;
    uint32_t id;
    double starting;
};

inline const std::vector<SettingRow>& settingRows() {
    static const std::vector<SettingRow> rows = {
        {"minScale", &FrameConfig::minScale, 31, 1.0},
        {"maxScale", &FrameConfig::maxScale, 32, 3.0},
        {"aspectRatioWidth", &FrameConfig::aspectRatioWidth, 21, 1920.0},
        {"aspectRatioHeight", &FrameConfig::aspectRatioHeight, 22, 1080.0},
        {"sensorSize", &FrameConfig::sensorSize, 24, 36.0},
        {"focalLength", &FrameConfig::focalLength, 25, 24.0},
        {"paddingTop", &FrameConfig::paddingTop, 34, 0.3},
        {"paddingBottom", &FrameConfig::paddingBottom, 35, 0.3},
        {"paddingLeft", &FrameConfig::paddingLeft, 36, 0.15},
        {"paddingRight", &FrameConfig::paddingRight, 37, 0.15},
        {"easeTimeSmooth", &FrameConfig::easeTimeSmooth, 38, 2.0},
        {"easeTimeMarginPan", &FrameConfig::easeTimeMarginPan, 39, 4.0},
        {"easeTimeMarginZoom", &FrameConfig::easeTimeMarginZoom, 40, 4.0},
        {"easeInTime", &FrameConfig::easeInTime, 41, 0.0},
        {"easeOutTime", &FrameConfig::easeOutTime, 42, 0.0},
        {"minMotionArea", &FrameConfig::minMotionArea, 43, 0.001},
        {"maxMotionArea", &FrameConfig::maxMotionArea, 44, 1.0},
        {"motionBoxLeft", &FrameConfig::motionBoxLeft, 81, 0.02},
        {"motionBoxTop", &FrameConfig::motionBoxTop, 82, 0.55},
        {"motionBoxRight", &FrameConfig::motionBoxRight, 83, 0.98},
        {"motionBoxBottom", &FrameConfig::motionBoxBottom, 84, 0.1},
        {"brightness", &FrameConfig::brightness, 91, 1.0},
        {"mixFrame", &FrameConfig::mixFrame, 77, 1.0},
    };
    return rows;
}

// The settings of a reader that got no answer from the host.
inline FrameConfig startingSettings() {
    FrameConfig config;
    for (const SettingRow& row : settingRows()) config.*row.member = row.starting;
    config.enable = true;
    config.minMovedPixels = 200;
    return config;
}

// The settings the document holds at `time`, read the test's own way.
inline FrameConfig documentSettings(host::ParameterDocument& document, CMTime time) {
    FrameConfig config = startingSettings();
    for (const SettingRow& row : settingRows()) config.*row.member = *document.floatValue(row.id, time);
    return config;
}

struct StateAnswer {
    bool answered = false;
    NSError error;
    std::optional<NSData> data;
};

// A box of motion weighing 500 moved pixels.
inline Bounds box(double minX, double minY, double maxX, double maxY, int64_t count = 500) {
    return Bounds{minX, minY, maxX, maxY, count};
}

// Every fifth frame at 30 frames a second, `count` samples from frame 0; the
// one box moves right by 0.01 a sample inside the default motion-detection area.
inline MotionAnalysis movingBoxAnalysis(int64_t count) {
    MotionAnalysis analysis;
    analysis.imageWidth = 160;
    analysis.imageHeight = 120;
    for (int64_t i = 0; i < count; ++i) {
        const double x = 0.2 + 0.01 * double(i);
        analysis.motionBounds.push_back(MotionBounds{CMTimeMake(5 * i, 30), {box(x, 0.2, x + 0.2, 0.4)}});
    }
    return analysis;
}

class PluginStateTest : public AnalysisTest {
protected:
    StateAnswer requestState(CMTime renderTime) {
        StateAnswer answer;
        answer.answered = instance->effect()->pluginState(&answer.data, renderTime, kFxQuality_HIGH, &answer.error);
        return answer;
    }

    // The state the effect wrote for the frame; fails the test when it wrote none.
    PluginState state(CMTime renderTime) {
        const StateAnswer answer = requestState(renderTime);
        EXPECT_TRUE(answer.answered) << answer.error.localizedDescription;
        if (!answer.data) {
            ADD_FAILURE() << "no state data";
            return {};
        }
        auto decoded = decodePluginStateText(textFromData(*answer.data));
        if (!decoded) ADD_FAILURE() << decoded.error().message;
        return decoded ? *decoded : PluginState{};
    }

    // Stores the analysis as the effect saves one: its JSON and the hash of it.
    void storeMotionAnalysis(const MotionAnalysis& analysis) {
        const auto json = encodeMotionAnalysisText(analysis);
        ASSERT_TRUE(json.ok());
        storeAnalysis(*json, analysisHashText(*json));
    }

    // A hash with no readable analysis beside it.
    void storeHashOnly(const std::string& hash) {
        store(param::analysisHash, AnalysisKey::AnalysisHash, dataFromText(hash));
    }
    void forgetHash() { ASSERT_TRUE(instance->document().setCustomValue(param::analysisHash, NSDictionary{})); }

    // The host changes a setting and tells the effect, as it does for every edit.
    void change(uint32_t id, double value) {
        ASSERT_TRUE(instance->document().setFloatValue(id, value));
        EXPECT_TRUE(instance->effect()->parameterChanged(id, CMTimeMake(0, 30), nullptr));
    }
    void changeToggle(uint32_t id, bool value) {
        ASSERT_TRUE(instance->document().setBoolValue(id, value));
        EXPECT_TRUE(instance->effect()->parameterChanged(id, CMTimeMake(0, 30), nullptr));
    }

    size_t floatReads() { return instance->calls().count("getFloatValue"); }
    // Float reads made by one state call at `renderTime`.
    size_t floatReadsOfState(CMTime renderTime) {
        const size_t before = floatReads();
        EXPECT_TRUE(requestState(renderTime).answered);
        return floatReads() - before;
    }
};

}  // namespace kv::test
