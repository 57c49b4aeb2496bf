#include "platform/foundation/bundle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

using Info = NSBundle::InfoDictionary;

// The version given in the project() line of the top-level CMakeLists.txt.
std::string projectVersion() {
    std::ifstream file(KV_SOURCE_DIR "/CMakeLists.txt");
    std::stringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    const size_t project = content.find("project(");
    const size_t version = content.find("VERSION ", project);
    if (project == std::string::npos || version == std::string::npos) return {};
    const size_t begin = version + 8;
    return content.substr(begin, content.find_first_not_of("0123456789.", begin) - begin);
}

TEST(BundleTest, MainBundleCarriesTheIdentifierAndTheProjectVersion) {
    const auto bundle = NSBundle::mainBundle();
    ASSERT_TRUE(bundle->infoDictionary());
    EXPECT_EQ(bundle->bundleIdentifier(), "com.orbelwick.fx_kestrelvantage");
    const auto& version = bundle->infoDictionary()->at("CFBundleShortVersionString");
    ASSERT_TRUE(std::holds_alternative<std::string>(version));
    const std::string expected = projectVersion();
    ASSERT_FALSE(expected.empty()) << "no version in " KV_SOURCE_DIR "/CMakeLists.txt";
    EXPECT_EQ(std::get<std::string>(version), expected);
}

TEST(BundleTest, ScopedInfoReplacesAndRestoresTheDictionary) {
    {
        kv::ScopedMainBundleInfo outer(Info{{"CFBundleIdentifier", std::string("outer")}});
        {
            kv::ScopedMainBundleInfo inner(std::nullopt);
            EXPECT_FALSE(NSBundle::mainBundle()->infoDictionary());
            EXPECT_FALSE(NSBundle::mainBundle()->bundleIdentifier());
        }
        EXPECT_EQ(NSBundle::mainBundle()->bundleIdentifier(), "outer");
    }
    EXPECT_EQ(*NSBundle::mainBundle()->infoDictionary(), kv::compiledBundleInfo());
}

TEST(BundleTest, IdentifierMustBeAString) {
    EXPECT_FALSE(NSBundle(Info{{"CFBundleIdentifier", 3.0}}).bundleIdentifier());
    EXPECT_FALSE(NSBundle(Info{}).bundleIdentifier());
    EXPECT_EQ(NSBundle(Info{{"CFBundleIdentifier", std::string()}}).bundleIdentifier(), "");
}

TEST(BundleTest, AHeldBundleOutlivesAReplacement) {
    const auto held = NSBundle::mainBundle();
    {
        kv::ScopedMainBundleInfo replaced(std::nullopt);
        EXPECT_TRUE(held->infoDictionary());
    }
}

}  // namespace
