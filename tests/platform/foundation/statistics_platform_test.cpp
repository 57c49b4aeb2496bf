// The platform pieces the statistics upload stands on: text checks, JSON
// encoding with absent members, user defaults and the host description.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/foundation/json_encoder.h"
#include "platform/foundation/process_info.h"
#include "platform/foundation/user_defaults.h"
#include "platform/foundation/utf8.h"

namespace {

TEST(Utf8Test, AcceptsWellFormedTextOnly) {
    for (const char* good : {"", "abc", "\xC3\xA9", "\xE2\x80\x99", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(kv::isValidUtf8(good)) << good;
    }
    for (const char* bad : {"\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                            "\x80", "a\xC3", "\xE2\x80", "\xE2\x28\xA1", "\xFF"}) {
        EXPECT_FALSE(kv::isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
    }
}

TEST(JsonEncoderTest, AbsentMembersAreLeftOutAndFloatsWrittenShortest) {
    const std::optional<int64_t> none;
    const std::optional<std::string> text = "a\xff";
    const kv::json::Value value = kv::json::ObjectBuilder()
                                      .add("z", uint64_t{18446744073709551615ull})
                                      .addIfPresent("none", none)
                                      .add("f", 0.1f)
                                      .add("g", 1e-5f)
                                      .addIfPresent("s", text)
                                      .build();
    EXPECT_EQ(JSONEncoder::text(value), "{\"z\":18446744073709551615,\"f\":0.1,\"g\":1e-05,\"s\":\"a\xEF\xBF\xBD\"}");
    EXPECT_THROW(kv::json::floatNumber(std::numeric_limits<float>::infinity(), "k"), kv::JsonCodingError);
    EXPECT_THROW(kv::json::floatNumber(std::nanf(""), "k"), kv::JsonCodingError);
    for (const float f : {0.1f, 1.0f / 3, 3.4028235e38f, 1e-45f, -2.5f}) {
        EXPECT_EQ(std::strtof(JSONEncoder::text(kv::json::floatNumber(f, "k")).c_str(), nullptr), f);
    }
}

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv-defaults-XXXXXX").string();
        ASSERT_TRUE(::mkdtemp(pattern.data()));
        directory = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(directory); }
    std::filesystem::path directory;
};

TEST_F(UserDefaultsTest, ValuesOutliveTheObjectAndTheFileIsReplacedWhole) {
    const auto file = directory / "nested" / "defaults.json";
    {
        NSUserDefaults defaults(file);
        EXPECT_EQ(defaults.stringForKey("a"), std::nullopt);
        defaults.setObject("1", "a");
        defaults.setObject("2", "b");
        defaults.setObject("3", "a");
        EXPECT_TRUE(defaults.synchronize());
    }
    NSUserDefaults reopened(file);
    EXPECT_EQ(reopened.stringForKey("a"), "3");
    EXPECT_EQ(reopened.stringForKey("b"), "2");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);  // no leftovers

    std::ofstream(file) << R"({"a": 5, "b": "text", "c": null)";  // malformed
    EXPECT_EQ(NSUserDefaults(file).stringForKey("b"), std::nullopt);
    std::ofstream(file) << R"({"a": 5, "b": "text"})";
    EXPECT_EQ(NSUserDefaults(file).stringForKey("a"), std::nullopt);  // not a string
    EXPECT_EQ(NSUserDefaults(file).stringForKey("b"), "text");

    NSUserDefaults unwritable(directory / "defaults.json" / "x");  // below a file
    std::ofstream(directory / "defaults.json") << "{}";
    unwritable.setObject("kept in memory", "k");
    EXPECT_EQ(unwritable.stringForKey("k"), "kept in memory");
    EXPECT_FALSE(unwritable.synchronize());
}

TEST_F(UserDefaultsTest, StandardDefaultsLiveUnderTheConfigurationDirectory) {
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string savedHome = home ? home : "";
    const std::string savedConfig = config ? config : "";
    ::setenv("XDG_CONFIG_HOME", "/config", 1);
    EXPECT_EQ(kv::standardUserDefaultsFile(), "/config/kestrelvantage/user-defaults.json");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", "/home/u", 1);
    EXPECT_EQ(kv::standardUserDefaultsFile(), "/home/u/.config/kestrelvantage/user-defaults.json");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(kv::standardUserDefaultsFile(), "");
    home ? ::setenv("HOME", savedHome.c_str(), 1) : ::unsetenv("HOME");
    config ? ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");

    {
        kv::ScopedStandardUserDefaults scoped(directory / "standard.json");
        NSUserDefaults::standardUserDefaults()->setObject("v", "k");
    }
    EXPECT_EQ(NSUserDefaults(directory / "standard.json").stringForKey("k"), "v");
}

TEST(ProcessInfoTest, LocaleComesFromTheEnvironmentWithoutItsCodeSet) {
    const auto locale = [](const char* all, const char* messages, const char* lang) {
        for (auto [name, value] : {std::pair{"LC_ALL", all}, {"LC_MESSAGES", messages}, {"LANG", lang}}) {
            value ? ::setenv(name, value, 1) : ::unsetenv(name);
        }
        return NSLocale::currentLocale().localeIdentifier();
    };
    EXPECT_EQ(locale(nullptr, nullptr, "en_US.UTF-8"), "en_US");
    EXPECT_EQ(locale("de_AT@euro", nullptr, "en_US"), "de_AT");
    EXPECT_EQ(locale("", "fr_FR", "en_US"), "fr_FR");
    EXPECT_EQ(locale(nullptr, nullptr, "C.UTF-8"), "");
    EXPECT_EQ(locale(nullptr, nullptr, nullptr), "");

    EXPECT_FALSE(kv::unameMachine().empty());
    EXPECT_FALSE(NSProcessInfo::processInfo().operatingSystemVersionString().empty());
    kv::ScopedHostDescription scoped({"m", "l", "o"});
    EXPECT_EQ(kv::unameMachine(), "m");
    EXPECT_EQ(NSLocale::currentLocale().localeIdentifier(), "l");
    EXPECT_EQ(NSProcessInfo::processInfo().operatingSystemVersionString(), "o");
}

}  // namespace
