#include "host/trimmed_clip.h"

#include <gtest/gtest.h>

#include <cmath>

#include "host/synthetic_clip.h"

namespace kv::host {
namespace {

SyntheticClip clipOf(int64_t frames) {
    SyntheticClipSettings settings;
    settings.format = ClipFormat{16, 8, frames, CMTimeMake(512, 10240), CMTimeMake(1024, 10240)};
    return SyntheticClip(settings);
}

TEST(TrimmedClipTest, APartStartsAtTheFrameShownAtItsStartAndKeepsItsTimes) {
    const SyntheticClip clip = clipOf(40);  // 2 s at 20 fps, from 0.1 s
    const auto part = TrimmedClip::make(clip, 0.5, 1.0);
    ASSERT_TRUE(part.ok()) << part.error().message;
    EXPECT_EQ(part->format().frameCount, 20);
    EXPECT_EQ(CMTimeCompare(part->format().startTime, CMTimeMake(12 * 512, 10240)), 0);  // 0.1 s + 0.5 s
    EXPECT_EQ(part->frame(0).rgba, clip.frame(10).rgba);

    struct Case {
        double start;
        std::optional<double> duration;
        int64_t frames;
    };
    for (const Case& c : {Case{0, std::nullopt, 40}, Case{1.99, std::nullopt, 1}, Case{1.5, 10.0, 10},
                          Case{0.0, 0.01, 1}, Case{0.06, 0.1, 2}}) {
        const auto trimmed = TrimmedClip::make(clip, c.start, c.duration);
        ASSERT_TRUE(trimmed.ok()) << c.start;
        EXPECT_EQ(trimmed->format().frameCount, c.frames) << c.start;
    }
}

TEST(TrimmedClipTest, HugeNumbersOfSecondsAreRangesNotOverflows) {
    const SyntheticClip clip = clipOf(40);
    for (double duration : {1e18, 1e300, 9.3e18}) {
        const auto trimmed = TrimmedClip::make(clip, 0.5, duration);
        ASSERT_TRUE(trimmed.ok()) << duration;
        EXPECT_EQ(trimmed->format().frameCount, 30) << "to the end of the clip";
    }
    EXPECT_FALSE(TrimmedClip::make(clip, 1e18, std::nullopt).ok());
    EXPECT_FALSE(TrimmedClip::make(clip, 0, 1e-300).ok());
}

TEST(TrimmedClipTest, ARangeOutsideTheClipIsRefused) {
    const SyntheticClip clip = clipOf(40);
    EXPECT_FALSE(TrimmedClip::make(clip, 2.0, std::nullopt).ok());
    EXPECT_FALSE(TrimmedClip::make(clip, -0.5, std::nullopt).ok());
    EXPECT_FALSE(TrimmedClip::make(clip, 0, 0.0).ok());
    EXPECT_FALSE(TrimmedClip::make(clip, 0, -1.0).ok());
    EXPECT_FALSE(TrimmedClip::make(clip, std::nan(""), std::nullopt).ok());
    const auto refused = TrimmedClip::make(clip, 5, std::nullopt);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("lasts 2.00 s"), std::string::npos) << refused.error().message;
}

}  // namespace
}  // namespace kv::host
