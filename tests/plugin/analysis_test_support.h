#pragma once
// Drives the effect's analysis entries as the host does, frame by frame, with
// a clock the test sets, and reads the stored analysis out of the host's
// document.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "effect_test_support.h"
#include "host/frame_surfaces.h"
#include "host/clip_source.h"
#include "platform/foundation/date.h"
#include "platform/foundation/process_setting.h"
#include "platform/foundation/log.h"
#include "plugin/parameter_set.h"
#include "plugin/stored_analysis.h"

namespace kv::test {

// A grey clip in which a square with a smooth pattern goes from side to side
// at 3 pixels a frame: the detector finds its motion in every compared pair
// of frames at least 150 × 100 pixels in size.
class MovingSquareClip final : public host::ClipSource {
public:
    MovingSquareClip(int64_t width, int64_t height, int64_t frames)
        : format_{width, height, frames, CMTimeMake(1, 30), CMTimeMake(0, 30)} {}

    host::ClipFormat format() const override { return format_; }

    host::Frame frame(int64_t index) const override {
        const int64_t w = format_.width, h = format_.height;
        const int64_t side = h / 3;
        const int64_t travel = std::max<int64_t>(1, w - side - 40);
        int64_t offset = (3 * index) % (2 * travel);
        if (offset > travel) offset = 2 * travel - offset;
        const int64_t left = 20 + offset, top = (h - side) / 2;
        host::Frame out{w, h, std::vector<float>(size_t(w * h * 4), 0.5f)};
        for (int64_t r = 0; r < h; ++r) {
            for (int64_t c = 0; c < w; ++c) {
                float* p = &out.rgba[size_t((r * w + c) * 4)];
                p[3] = 1.0f;
                if (r < top || r >= top + side || c < left || c >= left + side) continue;
                const double s = 0.5 + 0.5 * std::sin(double(c - left) * 0.45) * std::sin(double(r - top) * 0.41);
                p[0] = float(s * s * s);
                p[1] = float(0.8 * s * s * s);
                p[2] = float(0.6 * s * s * s);
            }
        }
        return out;
    }

private:
    host::ClipFormat format_;
};

// Frames `first` to `first + count` at 1/30 s each.
inline CMTimeRange frameRange(int64_t first, int64_t count) {
    return CMTimeRangeMake(CMTimeMake(first, 30), CMTimeMake(count, 30));
}

class AnalysisTest : public ::testing::Test {
protected:
    void SetUp() override {
        instance = loadEffect();
        ASSERT_TRUE(instance);
        plugin = dynamic_cast<KestrelvantagePlugIn*>(instance->analyzer());
        ASSERT_NE(plugin, nullptr);
        plugin->addParametersWithError(nullptr);
        instance->calls().clear();
        clock.emplace(setDateSource, [this] { return NSDate{clockSeconds.load()}; });
    }

    void TearDown() override { clock.reset(); }

    bool setUpRun(CMTimeRange range, CMTime frameDuration = CMTimeMake(1, 30), NSError* error = nullptr) {
        return plugin->setupAnalysisForTimeRange(range, frameDuration, error);
    }

    // Hands in frame `index` of the clip at its time, on a surface of `format`.
    bool feed(const host::ClipSource& clip, int64_t index, OSType format = kCVPixelFormatType_128RGBAFloat) {
        const auto tile = host::makeFullFrameTile(host::makeFrameSurface(clip.frame(index), format));
        return plugin->analyzeFrame(tile.get(), CMTimeMake(index, 30), nullptr);
    }

    // Sets up a run over the first `frames` frames of a moving square and
    // hands them all in; clean-up is left to the test.
    void handInRun(int64_t frames) {
        const MovingSquareClip clip(160, 120, frames);
        ASSERT_TRUE(setUpRun(frameRange(0, frames)));
        for (int64_t i = 0; i < frames; ++i) ASSERT_TRUE(feed(clip, i));
    }

    // Asks for a run with the button and lets the host drive it over the clip.
    host::AnalysisRun runWholeClip(const host::ClipSource& clip) {
        instance->pressButton(param::analyzeButton);
        return instance->runRequestedAnalysis(clip);
    }

    // The bytes stored under `key` in custom parameter `id`, as text.
    std::optional<std::string> storedEntry(uint32_t id, AnalysisKey key) {
        const auto value = instance->document().customValue(id);
        const NSDictionary* dictionary = value ? value->dictionary() : nullptr;
        if (!dictionary) return std::nullopt;
        const auto entry = dictionary->find(analysisKeyText(key));
        if (entry == dictionary->end() || !entry->second.data()) return std::nullopt;
        return std::string(textFromData(*entry->second.data()));
    }
    std::optional<std::string> storedData() { return storedEntry(param::analysisData, AnalysisKey::AnalysisData); }
    std::optional<std::string> storedHash() { return storedEntry(param::analysisHash, AnalysisKey::AnalysisHash); }

    void store(uint32_t id, AnalysisKey key, FxValue value) {
        ASSERT_TRUE(instance->document().setCustomValue(id, NSDictionary{{std::string(analysisKeyText(key)), value}}));
    }
    void storeAnalysis(const std::string& json, const std::string& hash) {
        store(param::analysisData, AnalysisKey::AnalysisData, dataFromText(json));
        store(param::analysisHash, AnalysisKey::AnalysisHash, dataFromText(hash));
    }

    // The stored analysis, decoded; fails the test when there is none.
    MotionAnalysis storedAnalysis() {
        const auto data = storedData();
        if (!data) {
            ADD_FAILURE() << "no analysis stored";
            return {};
        }
        auto decoded = decodeMotionAnalysisText(*data);
        if (!decoded) ADD_FAILURE() << decoded.error().message;
        return decoded ? *decoded : MotionAnalysis{};
    }

    void expectStoredHashNamesStoredData() {
        const auto data = storedData();
        const auto hash = storedHash();
        ASSERT_TRUE(data && hash);
        EXPECT_EQ(*hash, analysisHashText(*data));
    }

    // Host calls of `selector` on parameter `id`.
    size_t callsOf(const std::string& selector, uint32_t id) {
        size_t n = 0;
        for (const auto& call : instance->calls().calls()) n += call.selector == selector && call.parameterID == id;
        return n;
    }
    size_t dataReads() { return callsOf("getCustomParameterValue", param::analysisData); }
    size_t saves() { return callsOf("setCustomParameterValue", param::analysisData); }

    void withholdSetting(bool withheld) {
        instance->apiManager().setAvailability(
            FxProtocol::FxParameterSettingAPI_v5,
            withheld ? host::ServiceAvailability::withheld : host::ServiceAvailability::provided);
    }

    std::shared_ptr<Counter> counter() { return plugin->usageCounter().lock(); }

    std::unique_ptr<host::EffectInstance> instance;
    KestrelvantagePlugIn* plugin = nullptr;
    std::atomic<double> clockSeconds{1000.0};
    std::optional<ScopedOverride<DateSource>> clock;
};

}  // namespace kv::test
