#include "analysis/motion_types.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kv::Bounds;
using kv::decodeMotionAnalysisText;
using kv::encodeMotionAnalysisText;
using kv::MotionAnalysis;
using kv::MotionBounds;

const char* kStoredExample =
    R"({"iw":1920,"ih":1080,"mb":[{"t":{"tv":3003,"ts":1000},"b":[{"minX":0.25,"minY":0.4,"maxX":0.5,"maxY":0.6,"count":412}]}]})";

kv::Result<Bounds> decodeBoundsText(std::string_view text) { return kv::json::decodeText(text, kv::decodeBounds); }
kv::Result<MotionBounds> decodeSampleText(std::string_view text) {
    return kv::json::decodeText(text, kv::decodeMotionBounds);
}
kv::Result<CMTime> decodeTimeText(std::string_view text) { return kv::json::decodeText(text, kv::decodeCMTime); }

TEST(MotionTypesTest, StoredExampleDecodesAndEncodesToTheSameText) {
    const auto analysis = decodeMotionAnalysisText(kStoredExample);
    ASSERT_TRUE(analysis.ok()) << analysis.error().message;
    EXPECT_EQ(analysis->imageWidth, 1920);
    EXPECT_EQ(analysis->imageHeight, 1080);
    ASSERT_EQ(analysis->motionBounds.size(), 1u);
    const MotionBounds& sample = analysis->motionBounds[0];
    EXPECT_EQ(sample.time, CMTimeMake(3003, 1000));
    ASSERT_EQ(sample.bounds.size(), 1u);
    EXPECT_EQ(sample.bounds[0], (Bounds{0.25, 0.4, 0.5, 0.6, 412}));
    EXPECT_EQ(*encodeMotionAnalysisText(*analysis), kStoredExample);
}

TEST(MotionTypesTest, EmptyAnalysisGetsTheDefaultTimes) {
    const auto analysis = decodeMotionAnalysisText(R"({"iw":0,"ih":0,"mb":[]})");
    ASSERT_TRUE(analysis.ok());
    EXPECT_TRUE(analysis->motionBounds.empty());
    EXPECT_EQ(analysis->imageWidth, 0);
    EXPECT_EQ(analysis->firstFrameTime, CMTimeMake(0, 1000));
    EXPECT_EQ(analysis->lastFrameTime, CMTimeMake(0, 1000));
    EXPECT_EQ(analysis->frameDuration, CMTimeMake(30, 1000));
}

TEST(MotionTypesTest, AnalysisNeedsEveryKeyAndIgnoresUnknownOnes) {
    EXPECT_FALSE(decodeMotionAnalysisText(R"({"ih":0,"mb":[]})").ok());
    EXPECT_FALSE(decodeMotionAnalysisText(R"({"iw":0,"ih":0})").ok());
    EXPECT_FALSE(decodeMotionAnalysisText(R"({"iw":0,"ih":0,"mb":null})").ok());
    EXPECT_FALSE(decodeMotionAnalysisText(R"({"iw":0,"ih":0,"mb":{}})").ok());
    EXPECT_FALSE(decodeMotionAnalysisText(R"([])").ok());
    EXPECT_FALSE(decodeMotionAnalysisText("not json").ok());
    const auto extra = decodeMotionAnalysisText(R"({"iw":2,"ih":3,"mb":[],"fd":{"tv":1,"ts":30}})");
    ASSERT_TRUE(extra.ok());
    EXPECT_EQ(*extra, *decodeMotionAnalysisText(R"({"iw":2,"ih":3,"mb":[]})"));
}

TEST(MotionTypesTest, OneBadElementFailsTheWholeAnalysis) {
    EXPECT_FALSE(decodeMotionAnalysisText(
                     R"({"iw":1,"ih":1,"mb":[{"t":{"tv":1,"ts":30},"b":[]},{"t":{"tv":2,"ts":30},"b":[{"minX":0}]}]})")
                     .ok());
    EXPECT_FALSE(decodeMotionAnalysisText(R"({"iw":1,"ih":1,"mb":[7]})").ok());
}

TEST(MotionTypesTest, SampleDecoding) {
    const auto sample = decodeSampleText(R"({"t":{"tv":1201,"ts":600},"b":[]})");
    ASSERT_TRUE(sample.ok());
    EXPECT_EQ(sample->time, CMTimeMake(1201, 600));
    EXPECT_TRUE(CMTimeIsValid(sample->time));
    EXPECT_EQ(sample->time.epoch, 0);
    EXPECT_TRUE(sample->bounds.empty());
    EXPECT_FALSE(decodeSampleText(R"({"t":{"tv":1201,"ts":600}})").ok());
}

TEST(MotionTypesTest, TimeDecodingChecksRanges) {
    EXPECT_FALSE(decodeTimeText(R"({"tv":5,"ts":4294967296})").ok());
    EXPECT_FALSE(decodeTimeText(R"({"tv":5.5,"ts":30})").ok());
    EXPECT_FALSE(decodeTimeText(R"({"tv":5,"ts":0})").ok());
    EXPECT_FALSE(decodeTimeText(R"({"tv":5,"ts":-30})").ok());
    EXPECT_FALSE(decodeTimeText(R"({"tv":"5","ts":30})").ok());
    EXPECT_EQ(*decodeTimeText(R"({"tv":-9223372036854775808,"ts":2147483647})"),
              CMTimeMake(INT64_MIN, INT32_MAX));
}

TEST(MotionTypesTest, BoundsDecodingIsStrictAboutCountAndLenientAboutIntegerEdges) {
    EXPECT_FALSE(decodeBoundsText(R"({"minX":0,"minY":0,"maxX":1,"maxY":1,"count":12.5})").ok());
    EXPECT_FALSE(decodeBoundsText(R"({"minX":0,"minY":0,"maxX":1,"maxY":1,"count":true})").ok());
    EXPECT_FALSE(decodeBoundsText(R"({"minX":0,"minY":0,"maxX":1,"count":1})").ok());
    const auto b = decodeBoundsText(R"({"minX":1,"minY":0,"maxX":1,"maxY":1,"count":3})");
    ASSERT_TRUE(b.ok());
    EXPECT_EQ(b->minX, 1.0);
}

TEST(MotionTypesTest, TimesAreNotStoredAndOrderIsKept) {
    MotionAnalysis a;
    a.firstFrameTime = CMTimeMake(5, 25);
    a.lastFrameTime = CMTimeMake(250, 25);
    a.frameDuration = CMTimeMake(1, 25);
    a.imageWidth = 640;
    a.imageHeight = 480;
    a.motionBounds = {{CMTimeMake(5, 25), {{0.5, 0.5, 0.6, 0.6, 9}, {0.1, 0.1, 0.2, 0.9, 400}}},
                      {CMTimeMake(10, 25), {}},
                      {CMTimeMake(15, 25), {{0, 0, 1, 1, 1}, {0.3, 0.2, 0.1, 0.0, 0}, {-0.5, 1.5, 2, -1, -7}}}};
    const auto text = encodeMotionAnalysisText(a);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text->find("fd"), std::string::npos);
    const auto back = decodeMotionAnalysisText(*text);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->firstFrameTime, CMTimeMake(0, 1000));
    EXPECT_EQ(back->motionBounds, a.motionBounds);
    EXPECT_EQ(back->imageWidth, 640);
}

TEST(MotionTypesTest, TimeLosesFlagsAndEpochInJson) {
    MotionAnalysis a;
    CMTime odd = CMTimeMake(7, 30);
    odd.flags = kCMTimeFlags_Valid | kCMTimeFlags_Indefinite;
    odd.epoch = 4;
    a.motionBounds = {{odd, {}}};
    const auto back = decodeMotionAnalysisText(*encodeMotionAnalysisText(a));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->motionBounds[0].time, CMTimeMake(7, 30));
}

TEST(MotionTypesTest, EncodingFailsOnValuesThatAreNotFinite) {
    MotionAnalysis a;
    a.motionBounds = {{CMTimeMake(1, 30), {{0, 0, 1, 1, 1}, {0, NAN, 1, 1, 1}}}};
    EXPECT_FALSE(encodeMotionAnalysisText(a).ok());
    a.motionBounds[0].bounds[1].minY = INFINITY;
    EXPECT_FALSE(encodeMotionAnalysisText(a).ok());
}

}  // namespace
