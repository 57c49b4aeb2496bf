#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/effect_instance.h"
#include "host/synthetic_clip.h"
#include "platform/fxplug/fx_principal.h"

namespace kv::host {
namespace {

// An analyser that asks the host to analyse when its button is pressed and
// notes every entry the host calls.
class RecordingAnalyzer final : public FxTileableEffect, public FxAnalyzer {
public:
    explicit RecordingAnalyzer(std::shared_ptr<PROAPIAccessing> manager) : manager_(manager) {}

    bool performSelector(std::string_view selector) override {
        if (selector != "startAnalysis") return false;
        auto manager = manager_.lock();
        auto api = manager ? fxAPI<FxAnalysisAPI_v2>(*manager) : nullptr;
        if (api) startAccepted = api->startForwardAnalysis(kFxAnalysisLocation_CPU, &startError);
        return true;
    }

    bool desiredAnalysisTimeRange(CMTimeRange* desired, CMTimeRange input, NSError*) override {
        events.push_back("desired");
        *desired = desiredOverride.value_or(input);
        return true;
    }

    bool setupAnalysisForTimeRange(CMTimeRange, CMTime frameDuration, NSError* error) override {
        events.push_back("setup " + std::to_string(frameDuration.value) + "/" +
                         std::to_string(frameDuration.timescale));
        if (failSetup) *error = NSError{"test", 1, "setup"};
        return !failSetup;
    }

    bool analyzeFrame(const FxImageTile* frame, CMTime time, NSError*) override {
        std::string event = "frame " + std::to_string(time.value);
        if (!frame) {
            event += " none";
        } else {
            const auto& surface = frame->ioSurface();
            event += surface->pixelFormat() == kCVPixelFormatType_128RGBAFloat ? " RGfA " : " other ";
            event += std::to_string(surface->width()) + "x" + std::to_string(surface->height());
        }
        events.push_back(event);
        return true;
    }

    bool cleanupAnalysis(NSError*) override {
        events.push_back("cleanup");
        return true;
    }

    std::weak_ptr<PROAPIAccessing> manager_;
    std::vector<std::string> events;
    std::optional<CMTimeRange> desiredOverride;
    bool failSetup = false;
    bool startAccepted = false;
    NSError startError;
};

[[maybe_unused]] const bool registered =
    FxPrincipal::registerPlugInClass("RecordingAnalyzer", [](std::shared_ptr<PROAPIAccessing> manager) {
        return std::make_shared<RecordingAnalyzer>(std::move(manager));
    });

class AnalysisRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto loaded = EffectInstance::load("RecordingAnalyzer");
        ASSERT_TRUE(loaded.ok());
        instance = std::move(loaded).value();
        ParameterCreationService& creation = instance->creation();
        creation.addPushButtonWithName("Analyze Clip", 10, "startAnalysis", 0);
        effect = dynamic_cast<RecordingAnalyzer*>(instance->analyzer());
    }

    static SyntheticClip clip(int64_t frames) {
        SyntheticClipSettings settings;
        settings.format = ClipFormat{8, 6, frames, CMTimeMake(1, 30), CMTimeMake(30, 30)};
        return SyntheticClip(settings);
    }

    std::unique_ptr<EffectInstance> instance;
    RecordingAnalyzer* effect = nullptr;
};

TEST_F(AnalysisRunTest, AcceptedStartDrivesTheWholeRunInTimeOrder) {
    EXPECT_EQ(instance->analysis().analysisStateForEffect(), kFxAnalysisState_NotAnalyzing);
    ASSERT_TRUE(instance->pressButton(10));
    EXPECT_TRUE(effect->startAccepted);
    EXPECT_EQ(instance->analysis().analysisStateForEffect(), kFxAnalysisState_AnalysisRequested);
    EXPECT_EQ(instance->analysis().requestedLocation(), kFxAnalysisLocation_CPU);

    const AnalysisRun run = instance->runRequestedAnalysis(clip(3));
    EXPECT_TRUE(run.started);
    EXPECT_EQ(run.desiredRange, CMTimeRangeMake(CMTimeMake(30, 30), CMTimeMake(3, 30)));
    EXPECT_EQ(effect->events, (std::vector<std::string>{"desired", "setup 1/30", "frame 30 RGfA 8x6",
                                                        "frame 31 RGfA 8x6", "frame 32 RGfA 8x6", "cleanup"}));
    EXPECT_EQ(run.finalState, kFxAnalysisState_AnalysisCompleted);
    EXPECT_EQ(instance->analysis().analysisStateForEffect(), kFxAnalysisState_AnalysisCompleted);

    // Nothing more runs until the effect asks again.
    EXPECT_FALSE(instance->runRequestedAnalysis(clip(3)).started);
}

TEST_F(AnalysisRunTest, StartIsRefusedWhileARunIsRequestedOrWhenTheHostRefuses) {
    instance->pressButton(10);
    instance->pressButton(10);
    EXPECT_FALSE(effect->startAccepted);
    EXPECT_FALSE(effect->startError.localizedDescription.empty());

    instance->analysis().setState(kFxAnalysisState_NotAnalyzing);
    instance->analysis().setRefusing(true);
    effect->startError = NSError{};
    instance->pressButton(10);
    EXPECT_FALSE(effect->startAccepted);
    EXPECT_EQ(effect->startError.domain, "FxHostErrorDomain");
    EXPECT_FALSE(instance->runRequestedAnalysis(clip(3)).started);
}

TEST_F(AnalysisRunTest, TimesOutsideTheClipComeWithoutAFrame) {
    effect->desiredOverride = CMTimeRangeMake(CMTimeMake(32, 30), CMTimeMake(5, 60));  // 2.5 frames
    instance->pressButton(10);
    const AnalysisRun run = instance->runRequestedAnalysis(clip(3));
    EXPECT_EQ(effect->events, (std::vector<std::string>{"desired", "setup 1/30", "frame 32 RGfA 8x6", "frame 33 none",
                                                        "frame 34 none", "cleanup"}));
}

TEST_F(AnalysisRunTest, FrameCountIsExactWhereSecondsWouldRoundUp) {
    // 5/24 s ÷ 1/24 s is 5.000000000000001 in doubles: still five frames.
    SyntheticClipSettings settings;
    settings.format = ClipFormat{8, 6, 5, CMTimeMake(1, 24), CMTimeMake(0, 24)};
    instance->pressButton(10);
    instance->runRequestedAnalysis(SyntheticClip(settings));
    EXPECT_EQ(effect->events,
              (std::vector<std::string>{"desired", "setup 1/24", "frame 0 RGfA 8x6", "frame 1 RGfA 8x6",
                                        "frame 2 RGfA 8x6", "frame 3 RGfA 8x6", "frame 4 RGfA 8x6", "cleanup"}));
}

TEST_F(AnalysisRunTest, InterruptedRunStillCleansUp) {
    instance->pressButton(10);
    AnalysisRunOptions options;
    options.interruptAfterFrames = 1;
    options.pixelFormat = kCVPixelFormatType_32BGRA;
    const AnalysisRun run = instance->runRequestedAnalysis(clip(3), options);
    EXPECT_EQ(effect->events,
              (std::vector<std::string>{"desired", "setup 1/30", "frame 30 other 8x6", "cleanup"}));
    EXPECT_EQ(run.finalState, kFxAnalysisState_AnalysisInterrupted);
}

TEST_F(AnalysisRunTest, FailedSetUpEndsTheRunWithItsError) {
    effect->failSetup = true;
    instance->pressButton(10);
    const AnalysisRun run = instance->runRequestedAnalysis(clip(3));
    EXPECT_EQ(effect->events, (std::vector<std::string>{"desired", "setup 1/30"}));
    EXPECT_EQ(run.finalState, kFxAnalysisState_AnalysisInterrupted);
    ASSERT_TRUE(run.error);
    EXPECT_EQ(run.error->localizedDescription, "setup");
}

TEST(EffectInstanceTest, UnknownClassesAndButtonsAreRefused) {
    EXPECT_FALSE(EffectInstance::load("NoSuchEffect").ok());
    auto loaded = EffectInstance::load("RecordingAnalyzer");
    ASSERT_TRUE(loaded.ok());
    EXPECT_FALSE((*loaded)->pressButton(10));  // no such button yet
}

}  // namespace
}  // namespace kv::host
