#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "state_test_support.h"

namespace kv {
namespace {

using PluginStateConcurrencyTest = test::PluginStateTest;

// The host asks for frame states on three threads while the user edits the
// settings on a fourth and an analysis runs and saves on this one. Every
// answer is a whole state, and once the edits end the states use the last
// values: no frame that read the settings before an edit puts them back
// after it.
TEST_F(PluginStateConcurrencyTest, StatesWhileSettingsChangeAndAnAnalysisIsSaved) {
    LogCapture quiet;
    std::atomic<bool> done{false};
    std::atomic<int> answers{0};
    std::atomic<int> failures{0};

    std::vector<std::thread> renderers;
    for (int r = 0; r < 3; ++r) {
        renderers.emplace_back([&, r] {
            for (int64_t frame = r; !done || frame < 30; frame += 3) {
                std::optional<NSData> data;
                NSError error;
                const CMTime at = CMTimeMake(frame % 45, 30);
                const bool answered = instance->effect()->pluginState(&data, at, kFxQuality_HIGH, &error);
                if (!answered || (data && !decodePluginStateText(textFromData(*data)).ok())) ++failures;
                ++answers;
            }
        });
    }
    std::thread editor([&] {
        for (int i = 0; !done; ++i) {
            instance->document().setFloatValue(param::brightness, i % 2 ? 0.5 : 0.75);
            instance->effect()->parameterChanged(param::brightness, CMTimeMake(0, 30), nullptr);
            std::this_thread::yield();
        }
    });

    const test::MovingSquareClip clip(160, 120, 45);  // saved after 30 frames and at the end
    const host::AnalysisRun run = runWholeClip(clip);
    done = true;
    for (auto& renderer : renderers) renderer.join();
    editor.join();

    ASSERT_FALSE(run.error);
    EXPECT_EQ(failures, 0);
    EXPECT_GE(answers, 90);
    EXPECT_EQ(saves(), 2u);
    const double lastEdit = *instance->document().floatValue(param::brightness, kCMTimeZero);
    for (int64_t frame = 0; frame < 45; ++frame) {
        const PluginState last = state(CMTimeMake(frame, 30));
        ASSERT_EQ(last.config.brightness, lastEdit) << frame;
        ASSERT_EQ(last.processedBounds.bounds.size(), 1u);
    }
}

}  // namespace
}  // namespace kv
