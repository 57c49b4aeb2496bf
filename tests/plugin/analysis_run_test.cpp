#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "analysis/motion_detect_context.h"
#include "analysis_test_support.h"
#include "plugin/analysis_run.h"

namespace kv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A clip whose every frame is the first frame of another: nothing moves.
class StillClip final : public host::ClipSource {
public:
    explicit StillClip(const host::ClipSource& clip) : format_(clip.format()), frame_(clip.frame(0)) {}
    host::ClipFormat format() const override { return format_; }
    host::Frame frame(int64_t) const override { return frame_; }

private:
    host::ClipFormat format_;
    host::Frame frame_;
};

class EffectAnalysisRunTest : public test::AnalysisTest {
protected:
    // Sets up a run of `rangeFrames` frames, hands in `fed` frames of a small
    // clip and gives the frame numbers after which a save was written.
    std::vector<int64_t> saveFramesOf(int64_t rangeFrames, int64_t fed) {
        const test::MovingSquareClip clip(8, 6, 10);
        EXPECT_TRUE(setUpRun(test::frameRange(0, rangeFrames)));
        std::vector<int64_t> after;
        for (int64_t i = 0; i < fed; ++i) {
            const size_t before = saves();
            feed(clip, i % 10);
            if (saves() > before) after.push_back(i + 1);
        }
        return after;
    }
};

TEST_F(EffectAnalysisRunTest, NinetyFramesSaveAfterFrames30And60And90AndAtCleanup) {
    const test::MovingSquareClip clip(160, 120, 90);
    ASSERT_TRUE(setUpRun(test::frameRange(0, 90)));
    std::vector<int64_t> savedAfter;
    std::set<std::string> hashes;
    for (int64_t i = 0; i < 90; ++i) {
        const size_t before = saves();
        ASSERT_TRUE(feed(clip, i));
        if (saves() == before) continue;
        savedAfter.push_back(i + 1);
        expectStoredHashNamesStoredData();
        hashes.insert(*storedHash());
    }
    EXPECT_THAT(savedAfter, ElementsAre(30, 60, 90));
    EXPECT_EQ(hashes.size(), 3u);  // each save added samples

    NSError error;
    ASSERT_TRUE(plugin->cleanupAnalysis(&error));
    EXPECT_EQ(saves(), 4u);
    expectStoredHashNamesStoredData();
    const MotionAnalysis stored = storedAnalysis();
    EXPECT_EQ(stored.imageWidth, 160);
    EXPECT_EQ(stored.imageHeight, 120);
    // A sample per compared pair, each on the pair's later frame.
    ASSERT_EQ(stored.motionBounds.size(), 17u);
    for (size_t k = 0; k < stored.motionBounds.size(); ++k) {
        EXPECT_EQ(stored.motionBounds[k].time, CMTimeMake(5 * int64_t(k + 1), 30));
        EXPECT_FALSE(stored.motionBounds[k].bounds.empty());
    }
}

TEST_F(EffectAnalysisRunTest, PaddedSurfaceRowsAreReadAtTheirStride) {
    // 150 pixels of 16 bytes is no multiple of 64: every row is padded.
    const test::MovingSquareClip clip(150, 100, 20);
    ASSERT_GT(host::makeFrameSurface(clip.frame(0), kCVPixelFormatType_128RGBAFloat)->bytesPerRow(), 150u * 16u);

    MotionDetectContext reference;
    for (int64_t i = 0; i < 20; ++i) {
        const host::Frame frame = clip.frame(i);
        reference.addFrame(CMTimeMake(i, 30), frame.width, frame.height, frame.rgba.data());
    }
    ASSERT_FALSE(reference.result.motionBounds.empty());

    ASSERT_TRUE(setUpRun(test::frameRange(0, 20)));
    for (int64_t i = 0; i < 20; ++i) {
        const auto tile =
            host::makeFullFrameTile(host::makeFrameSurface(clip.frame(i), kCVPixelFormatType_128RGBAFloat));
        ASSERT_TRUE(plugin->analyzeFrame(tile.get(), CMTimeMake(i, 30), nullptr));
        EXPECT_FALSE(tile->ioSurface()->isLocked());
    }
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    const MotionAnalysis stored = storedAnalysis();
    EXPECT_EQ(stored.imageWidth, 150);
    EXPECT_EQ(stored.motionBounds, reference.result.motionBounds);
}

TEST_F(EffectAnalysisRunTest, SaveEveryFollowsTheRangesFrameCount) {
    EXPECT_THAT(saveFramesOf(0, 30), ElementsAre(30));
    EXPECT_THAT(saveFramesOf(2999, 60), ElementsAre(30, 60));
    EXPECT_THAT(saveFramesOf(3000, 60), ElementsAre(30, 60));
    EXPECT_THAT(saveFramesOf(3100, 62), ElementsAre(31, 62));
}

TEST_F(EffectAnalysisRunTest, FrameCountIsTheCeilingOfTheRangeOverTheFrameDuration) {
    const test::MovingSquareClip clip(8, 6, 1);
    LogCapture log;
    // 100.2 frame durations of 1/30 s.
    ASSERT_TRUE(setUpRun(CMTimeRangeMake(kCMTimeZero, CMTimeMake(334, 100))));
    feed(clip, 0);
    EXPECT_EQ(log.count("Analyze frame 0 of 101, "), 1u);
}

TEST_F(EffectAnalysisRunTest, SecondRunOverPartOfTheClipReplacesOnlyTheSamplesInItsRange) {
    // The first run is asked for with the button and driven by the host.
    const test::MovingSquareClip clip(160, 120, 90);
    const host::AnalysisRun run = runWholeClip(clip);
    EXPECT_FALSE(run.error);
    EXPECT_EQ(run.desiredRange, test::frameRange(0, 90));
    EXPECT_EQ(run.finalState, kFxAnalysisState_AnalysisCompleted);
    EXPECT_EQ(saves(), 4u);
    {
        const auto locked = counter()->lock();
        EXPECT_EQ(locked.usage.analyzedFrames.count, 90);
        EXPECT_EQ(locked.usage.analysisResolution.tried,
                  (std::map<std::string, int64_t, std::less<>>{{"160x120", 90}}));
    }
    const MotionAnalysis whole = storedAnalysis();

    // Over frames 30 to 59 of a clip where nothing moves, the samples from
    // 1 s up to 2 s go and the others stay; the first partial save keeps them.
    const StillClip still(clip);
    ASSERT_TRUE(setUpRun(test::frameRange(30, 30)));
    for (int64_t i = 30; i < 60; ++i) ASSERT_TRUE(feed(still, i));
    EXPECT_EQ(saves(), 5u);
    MotionAnalysis expected = whole;
    removeResults(expected, CMTimeMake(30, 30), CMTimeMake(60, 30));
    ASSERT_LT(expected.motionBounds.size(), whole.motionBounds.size());
    ASSERT_FALSE(expected.motionBounds.empty());
    EXPECT_EQ(storedAnalysis(), expected);
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    EXPECT_EQ(storedAnalysis(), expected);

    // The same part of the original clip puts back the samples it had, once
    // each; but the one at the range's start came from a pair that began
    // before the range, and stays away.
    ASSERT_TRUE(setUpRun(test::frameRange(30, 30)));
    for (int64_t i = 30; i < 60; ++i) ASSERT_TRUE(feed(clip, i));
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    expected = whole;
    removeResults(expected, CMTimeMake(30, 30), CMTimeMake(31, 30));
    ASSERT_EQ(expected.motionBounds.size() + 1, whole.motionBounds.size());
    EXPECT_EQ(storedAnalysis(), expected);
    expectStoredHashNamesStoredData();
}

TEST_F(EffectAnalysisRunTest, AnInterruptedRunKeepsTheStoredSamplesItHasNotReached) {
    const test::MovingSquareClip clip(160, 120, 90);
    ASSERT_FALSE(runWholeClip(clip).error);
    const std::string wholeText = *storedData();
    const MotionAnalysis whole = storedAnalysis();
    auto wholeFrom = [&](int64_t frame) {
        MotionAnalysis kept = whole;
        removeResults(kept, kCMTimeZero, CMTimeMake(frame, 30));
        return kept;
    };

    // A run over a clip where nothing moves, stopped after 45 of its 90
    // frames: every save keeps the samples after the last frame handed over.
    const StillClip still(clip);
    host::AnalysisRunOptions options;
    std::vector<MotionAnalysis> partial;
    options.afterFrame = [&](int64_t fed, int64_t) {
        if (fed == 30) partial.push_back(storedAnalysis());
        return fed < 45;
    };
    instance->pressButton(param::analyzeButton);
    EXPECT_EQ(instance->runRequestedAnalysis(still, options).finalState, kFxAnalysisState_AnalysisInterrupted);
    EXPECT_EQ(saves(), 4u + 2u);
    ASSERT_EQ(partial.size(), 1u);
    EXPECT_EQ(partial[0], wholeFrom(30));
    const MotionAnalysis stopped = storedAnalysis();
    EXPECT_EQ(stopped, wholeFrom(45));
    EXPECT_EQ(stopped.motionBounds.size(), 9u);

    // A run that is not stopped stores only what it found, as ever: here
    // the whole clip's samples again, to the byte.
    ASSERT_FALSE(runWholeClip(clip).error);
    EXPECT_EQ(*storedData(), wholeText);
    ASSERT_FALSE(runWholeClip(still).error);
    EXPECT_THAT(storedAnalysis().motionBounds, IsEmpty());
}

TEST(AnalysisRunSamplesTest, EarlierSamplesAfterTheReachedTimeAreMergedInByTime) {
    auto at = [](int64_t frame, int64_t count) { return MotionBounds{CMTimeMake(frame, 30), {{0, 0, 1, 1, count}}}; };
    const std::vector<MotionBounds> found{at(5, 1), at(10, 1)};
    const std::vector<MotionBounds> earlier{at(2, 2), at(7, 2), at(10, 2), at(12, 2)};
    EXPECT_EQ(withEarlierSamplesAfter(found, earlier, std::nullopt),
              (std::vector<MotionBounds>{at(2, 2), at(5, 1), at(7, 2), at(10, 1), at(12, 2)}));
    EXPECT_EQ(withEarlierSamplesAfter(found, earlier, CMTimeMake(7, 30)),
              (std::vector<MotionBounds>{at(5, 1), at(10, 1), at(12, 2)}));
    EXPECT_EQ(withEarlierSamplesAfter(found, earlier, CMTimeMake(1, 1)), found);
}

TEST_F(EffectAnalysisRunTest, StoredAnalysisThatCannotBeReadGivesARunWithoutEarlierSamples) {
    storeAnalysis("{\"iw\":", "SHA256 digest: 00");
    const test::MovingSquareClip clip(32, 24, 10);
    ASSERT_TRUE(setUpRun(test::frameRange(0, 10)));
    for (int64_t i = 0; i < 10; ++i) feed(clip, i);
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    EXPECT_EQ(storedAnalysis().imageWidth, 32);
    expectStoredHashNamesStoredData();
}

struct StartCase {
    const char* name;
    std::optional<FxAnalysisState> state;  // none: the host offers no analysis service
    bool hostRefuses;
    size_t startRequests;
    std::map<std::string, int64_t, std::less<>> outcomes;
    std::vector<std::string> log;
    std::vector<std::string> debugMessages;

    friend void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }
};

class StartAnalysisTest : public test::AnalysisTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartAnalysisTest, OutcomeIsCountedAndLogged) {
    const StartCase& c = GetParam();
    if (c.state) {
        instance->analysis().setState(*c.state);
    } else {
        instance->apiManager().setAvailability(FxProtocol::FxAnalysisAPI_v2, host::ServiceAvailability::withheld);
    }
    instance->analysis().setRefusing(c.hostRefuses);
    LogCapture log;
    EXPECT_TRUE(instance->pressButton(param::analyzeButton));
    EXPECT_EQ(instance->calls().count("startForwardAnalysis"), c.startRequests);
    EXPECT_EQ(log.lines(), c.log);
    const auto locked = counter()->lock();
    EXPECT_EQ(locked.usage.analyzeAction.count, 1);
    EXPECT_EQ(locked.usage.analyzeAction.tried, c.outcomes);
    EXPECT_EQ(locked.debug.debugMessages, c.debugMessages);
}

INSTANTIATE_TEST_SUITE_P(
    States, StartAnalysisTest,
    ::testing::Values(
        StartCase{"Accepted", 0, false, 1, {{"not_analyzing", 1}, {"start_ok", 1}},
                  {"startAnalysis()", "Current state: 0 (not_analyzing)"}, {}},
        StartCase{"Requested", 1, false, 0, {{"requested", 1}, {"start_wrongstate", 1}},
                  {"startAnalysis()", "Current state: 1 (requested)", "Not in the right state to request analysis"},
                  {}},
        StartCase{"Started", 2, false, 0, {{"started", 1}, {"start_wrongstate", 1}},
                  {"startAnalysis()", "Current state: 2 (started)", "Not in the right state to request analysis"},
                  {}},
        StartCase{"UnknownState", 7, false, 1, {{"?", 1}, {"start_ok", 1}},
                  {"startAnalysis()", "Current state: 7 (?)"}, {}},
        StartCase{"Refused", 4, true, 1, {{"interrupted", 1}, {"start_err", 1}},
                  {"startAnalysis()", "Current state: 4 (interrupted)",
                   "Unable to start analysis due to error: Error Domain=FxHostErrorDomain Code=1 \"The host cannot "
                   "analyze this clip now.\" UserInfo={NSLocalizedDescription=The host cannot analyze this clip now.}"},
                  {"Exception while trying to start analysis"}},
        StartCase{"NoAnalysisService", std::nullopt, false, 0, {{"start_noapi", 1}},
                  {"Unable to retrieve analysis API"}, {}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(EffectAnalysisRunTest, SpeedIsTheAverageSinceTheRunsFirstFrame) {
    const test::MovingSquareClip clip(16, 12, 10);
    ASSERT_TRUE(setUpRun(test::frameRange(0, 90)));
    LogCapture log;
    feed(clip, 0);
    feed(clip, 1);  // the clock has not moved
    for (int64_t i = 2; i <= 5; ++i) {
        clockSeconds = clockSeconds + 0.5;
        feed(clip, i);
    }
    EXPECT_EQ(log.count("Analyze frame 0 of 90, 0.0 fps, 0 frame(/s) in 0.0 s"), 1u);
    EXPECT_EQ(log.count("Analyze frame 1 of 90, 0.0 fps, 1 frame(/s) in 0.0 s"), 1u);
    EXPECT_EQ(log.count("Analyze frame 5 of 90, 2.5 fps, 5 frame(/s) in 2.0 s"), 1u);
    {
        const auto locked = counter()->lock();
        EXPECT_EQ(locked.performance.analysisSpeedFps.firstFlt, 0.0f);
        EXPECT_EQ(locked.performance.analysisSpeedFps.lastFlt, 2.5f);
    }

    // A new set-up starts the clock again.
    clockSeconds = clockSeconds + 10;
    ASSERT_TRUE(setUpRun(test::frameRange(0, 90)));
    log.clear();
    feed(clip, 0);
    EXPECT_EQ(log.lines().front(), "Analyze frame 0 of 90, 0.0 fps, 0 frame(/s) in 0.0 s");
}

TEST_F(EffectAnalysisRunTest, FramesInAnotherFormatOrAbsentAreLoggedAndNotCounted) {
    const test::MovingSquareClip clip(16, 12, 2);
    ASSERT_TRUE(setUpRun(test::frameRange(0, 2)));
    LogCapture log;
    EXPECT_TRUE(feed(clip, 0, kCVPixelFormatType_32BGRA));
    EXPECT_TRUE(plugin->analyzeFrame(nullptr, kCMTimeZero, nullptr));
    const FxImageTile noSurface(nullptr, FxRect{}, FxRect{}, 0, std::nullopt);
    EXPECT_TRUE(plugin->analyzeFrame(&noSurface, kCMTimeZero, nullptr));
    const std::string firstLine = "Analyze frame 0 of 2, 0.0 fps, 0 frame(/s) in 0.0 s";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{firstLine,
                                                     "Unsupported pixel format received from the host application",
                                                     firstLine, firstLine}));
    {
        const auto locked = counter()->lock();
        EXPECT_EQ(locked.usage.analyzedFrames.count, 0);
        EXPECT_THAT(locked.usage.analysisResolution.tried, IsEmpty());
        EXPECT_FALSE(locked.performance.analysisSpeedFps.lastFlt);
        EXPECT_EQ(locked.debug.debugMessages, (std::vector<std::string>{"Unsupported pixel format: 1111970369"}));
    }
    log.clear();
    feed(clip, 1);
    EXPECT_EQ(log.lines().front(), firstLine);
}

TEST_F(EffectAnalysisRunTest, FailedPartialSaveIsLoggedAndTheNextOneTriesAgain) {
    const test::MovingSquareClip clip(160, 120, 60);
    ASSERT_TRUE(setUpRun(test::frameRange(0, 60)));
    LogCapture log;
    for (int64_t i = 0; i < 25; ++i) feed(clip, i);
    withholdSetting(true);
    for (int64_t i = 25; i < 30; ++i) EXPECT_TRUE(feed(clip, i));
    EXPECT_EQ(log.count("Unable to save partial analysis data after 30 frames."), 1u);
    EXPECT_EQ(saves(), 0u);
    withholdSetting(false);
    for (int64_t i = 30; i < 60; ++i) feed(clip, i);
    EXPECT_EQ(saves(), 1u);
    expectStoredHashNamesStoredData();
    EXPECT_EQ(storedAnalysis().motionBounds.back().time, CMTimeMake(55, 30));
    const auto locked = counter()->lock();
    EXPECT_EQ(locked.debug.debugMessages,
              (std::vector<std::string>{"Unable to save partial analysis data after 30 frames"}));
}

TEST_F(EffectAnalysisRunTest, FailedFinalSaveReachesTheHostAndLeavesTheStoredAnalysisAsItWas) {
    handInRun(10);
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    const std::string earlier = *storedData();
    ASSERT_TRUE(plugin->readAnalysisData());

    handInRun(20);
    withholdSetting(true);
    NSError error;
    EXPECT_FALSE(plugin->cleanupAnalysis(&error));
    EXPECT_EQ(error, (NSError{kKestrelvantageErrorDomain, 1, "Could not fetch FxParameterSettingAPI"}));
    EXPECT_EQ(*storedData(), earlier);
    expectStoredHashNamesStoredData();
    // Its cache entry went with the attempt, so it is decoded again.
    instance->calls().clear();
    const auto read = plugin->readAnalysisData();
    EXPECT_EQ(dataReads(), 1u);
    ASSERT_TRUE(read);
    EXPECT_EQ(*encodeMotionAnalysisText(*read), earlier);

    // The detector kept its samples for another try.
    withholdSetting(false);
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    EXPECT_EQ(storedAnalysis().motionBounds.size(), 3u);

    // A failed clean-up leaves nothing locked for the next set-up.
    withholdSetting(true);
    EXPECT_FALSE(plugin->cleanupAnalysis(nullptr));
    EXPECT_TRUE(setUpRun(test::frameRange(0, 20)));
}

// Ranges that hold no countable number of frames.
TEST_F(EffectAnalysisRunTest, SetUpRefusesRangesWithoutACountableNumberOfFrames) {
    const test::MovingSquareClip clip(16, 12, 10);
    ASSERT_TRUE(setUpRun(test::frameRange(0, 90)));
    for (int64_t i = 0; i < 10; ++i) feed(clip, i);
    instance->calls().clear();

    const CMTime frame = CMTimeMake(1, 30);
    const struct {
        CMTimeRange range;
        CMTime frameDuration;
    } refused[] = {
        {test::frameRange(0, 30), CMTimeMake(0, 30)},
        {test::frameRange(0, 0), CMTimeMake(0, 30)},
        {test::frameRange(0, 0), CMTimeMake(-1, 30)},
        {test::frameRange(0, 30), kCMTimeInvalid},
        {CMTimeRangeMake(kCMTimeZero, kCMTimePositiveInfinity), frame},
        {CMTimeRangeMake(kCMTimeZero, CMTimeMake(-1, 30)), frame},
        {CMTimeRangeMake(kCMTimeZero, CMTimeMake(std::numeric_limits<int64_t>::max(), 1)), CMTimeMake(1, 1000)},
    };
    for (const auto& c : refused) {
        NSError error;
        EXPECT_FALSE(setUpRun(c.range, c.frameDuration, &error));
        EXPECT_EQ(error.domain, kKestrelvantageErrorDomain);
        EXPECT_FALSE(error.localizedDescription.empty());
    }
    // Nothing changed: no stored analysis was read and the run goes on.
    EXPECT_TRUE(instance->calls().calls().empty());
    LogCapture log;
    feed(clip, 0);
    EXPECT_EQ(log.lines().front(), "Analyze frame 10 of 90, 0.0 fps, 10 frame(/s) in 0.0 s");
}

}  // namespace
}  // namespace kv
