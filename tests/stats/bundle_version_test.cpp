#include "stats/bundle_version.h"

#include <gtest/gtest.h>

#include "platform/foundation/bundle.h"

namespace {

using Info = NSBundle::InfoDictionary;

TEST(BundleVersionTest, StringEntryIsReturnedUnchanged) {
    kv::ScopedMainBundleInfo info(Info{{"CFBundleShortVersionString", std::string(" 2.0 beta ")}});
    EXPECT_EQ(kv::bundleShortVersion(), " 2.0 beta ");
}

TEST(BundleVersionTest, EmptyStringIsReturnedAsIs) {
    kv::ScopedMainBundleInfo info(Info{{"CFBundleShortVersionString", std::string()}});
    EXPECT_EQ(kv::bundleShortVersion(), "");
}

TEST(BundleVersionTest, AnythingButAStringGivesQuestionMark) {
    {
        kv::ScopedMainBundleInfo noDictionary(std::nullopt);
        EXPECT_EQ(kv::bundleShortVersion(), "?");
    }
    {
        kv::ScopedMainBundleInfo noEntry(Info{{"CFBundleIdentifier", std::string("x")}});
        EXPECT_EQ(kv::bundleShortVersion(), "?");
    }
    {
        kv::ScopedMainBundleInfo number(Info{{"CFBundleShortVersionString", 1.5}});
        EXPECT_EQ(kv::bundleShortVersion(), "?");
    }
}

}  // namespace
