// The decoders of stored and passed-on JSON (the stored analysis and the
// per-frame state) on documents a damaged disk or a hand edit may produce.
#include <gtest/gtest.h>

#include <string>

#include "analysis/motion_types.h"
#include "analysis/plugin_state.h"

namespace {

enum class Decoder { analysis, state };

bool decodes(Decoder decoder, const std::string& text) {
    return decoder == Decoder::analysis ? kv::decodeMotionAnalysisText(text).ok()
                                        : kv::decodePluginStateText(text).ok();
}

std::string stateText() {
    kv::PluginState state;
    state.motion.time = state.processedBounds.time = CMTimeMake(1, 30);
    state.config.minMovedPixels = 7;
    return kv::encodePluginStateText(state).value();
}

// The text of a state with "minMovedPixels" written as `written`.
std::string stateWithMinMovedPixels(const std::string& written) {
    std::string text = stateText();
    const std::string member = "\"minMovedPixels\":7";
    return text.replace(text.find(member), member.size(), "\"minMovedPixels\":" + written);
}

std::string analysisWith(const std::string& tv, const std::string& count) {
    return R"({"iw":8,"ih":8,"mb":[{"t":{"tv":)" + tv + R"(,"ts":30},"b":[{"minX":0,"minY":0,"maxX":1,"maxY":1,"count":)" +
           count + "}]}]}";
}

TEST(StrictDecodingTest, IntegersAreReadFromTheirTextAndNothingFollowsTheDocument) {
    const struct {
        Decoder decoder;
        std::string text;
        bool decodes;
    } cases[] = {
        // Integers just below the 64-bit range read as the nearest double,
        // -2^63, and were taken for INT64_MIN.
        {Decoder::analysis, analysisWith("1", "-9223372036854775808"), true},
        {Decoder::analysis, analysisWith("1", "-9223372036854775809"), false},
        {Decoder::analysis, analysisWith("1", "-9223372036854776832"), false},
        {Decoder::analysis, analysisWith("1", "-9223372036854775809.0"), false},
        {Decoder::analysis, analysisWith("1", "9223372036854775808"), false},
        {Decoder::analysis, analysisWith("1", "18446744073709551616"), false},
        {Decoder::analysis, analysisWith("-9223372036854775809", "1"), false},
        {Decoder::analysis, analysisWith("-9223372036854775808", "1"), true},
        {Decoder::analysis, R"({"iw":-9223372036854775809,"ih":0,"mb":[]})", false},
        {Decoder::analysis, R"({"iw":0,"ih":-9223372036854775809,"mb":[]})", false},
        // A whole number written with a fraction or an exponent is an integer;
        // exactly, also beyond the doubles' whole numbers.
        {Decoder::analysis, analysisWith("1", "12.0"), true},
        {Decoder::analysis, analysisWith("1", "1.2e1"), true},
        {Decoder::analysis, analysisWith("1", "1200e-2"), true},
        {Decoder::analysis, analysisWith("1", "12.5"), false},
        {Decoder::analysis, analysisWith("1", "12.000000000000000001"), false},  // its double is 12.0
        {Decoder::analysis, analysisWith("1", "1e-400"), false},
        {Decoder::analysis, analysisWith("1", "9.223372036854775807e18"), true},
        {Decoder::analysis, analysisWith("1", "9.223372036854775808e18"), false},
        {Decoder::analysis, analysisWith("1", "1e19"), false},
        {Decoder::state, stateWithMinMovedPixels("200"), true},
        {Decoder::state, stateWithMinMovedPixels("200.0"), true},
        {Decoder::state, stateWithMinMovedPixels("2.5"), false},
        {Decoder::state, stateWithMinMovedPixels("-9223372036854775809"), false},
        // Nothing but whitespace may follow the value; a NUL byte ended the
        // text for the parser, and what came after it went unread.
        {Decoder::analysis, std::string(R"({"iw":0,"ih":0,"mb":[]})") + " \n\t", true},
        {Decoder::analysis, std::string(R"({"iw":0,"ih":0,"mb":[]})") + std::string("\0garbage{{{", 11), false},
        {Decoder::analysis, std::string(R"({"iw":0,"ih":0,"mb":[]})") + std::string("\0", 1), false},
        {Decoder::analysis, R"({"iw":0,"ih":0,"mb":[]} {})", false},
        {Decoder::state, stateText() + "\n", true},
        {Decoder::state, stateText() + std::string("\0{", 2), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodes(c.decoder, c.text), c.decodes) << c.text;
    }
}

TEST(StrictDecodingTest, NumbersKeepTheirValueAndTheLastOfTwoEqualKeysHolds) {
    const auto analysis = kv::decodeMotionAnalysisText(
        R"({"iw":1,"iw":640,"ih":4.8e2,"mb":[{"t":{"tv":1e3,"ts":30},"b":[{"minX":0.1,"minY":1e-400,"maxX":0.30000000000000004,"maxY":1,"count":9007199254740993.0}]}]})");
    ASSERT_TRUE(analysis.ok()) << analysis.error().message;
    EXPECT_EQ(analysis->imageWidth, 640);
    EXPECT_EQ(analysis->imageHeight, 480);
    EXPECT_EQ(analysis->motionBounds.at(0).time, CMTimeMake(1000, 30));
    const kv::Bounds& box = analysis->motionBounds[0].bounds.at(0);
    EXPECT_EQ(box.minX, 0.1);
    EXPECT_EQ(box.minY, 0.0);
    EXPECT_EQ(box.maxX, 0.1 + 0.2);
    EXPECT_EQ(box.count, 9007199254740993);  // one more than a double holds
}

}  // namespace
