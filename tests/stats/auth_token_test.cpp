#include "stats/auth_token.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/stats/stats_test_support.h"

namespace kv {
namespace {

TEST(AuthTokenTest, CodesMatchTheSha1VectorsOfTheTimeBasedOneTimePasswordStandard) {
    Auth::Key key;
    const std::string secret = "12345678901234567890";
    std::copy(secret.begin(), secret.end(), key.begin());
    // Steps of 59, 1111111109, 1111111111, 1234567890, 2000000000 and
    // 20000000000 seconds: the standard's eight digits, last six kept.
    EXPECT_EQ(Auth::oneTimeCode(key, 1), "287082");
    EXPECT_EQ(Auth::oneTimeCode(key, 37037036), "081804");
    EXPECT_EQ(Auth::oneTimeCode(key, 37037037), "050471");
    EXPECT_EQ(Auth::oneTimeCode(key, 41152263), "005924");
    EXPECT_EQ(Auth::oneTimeCode(key, 66666666), "279037");
    EXPECT_EQ(Auth::oneTimeCode(key, 666666666), "353130");
}

TEST(AuthTokenTest, KeyIsTheSecretThenTheIdentifiersLow32BitsMostSignificantFirst) {
    const Auth::Key key = Auth::tokenKey(0xAABBCCDD'01020304ull);
    EXPECT_EQ(std::vector<uint8_t>(key.begin() + 16, key.end()), (std::vector<uint8_t>{1, 2, 3, 4}));
    const Auth::Key other = Auth::tokenKey(7);
    EXPECT_TRUE(std::equal(key.begin(), key.begin() + 16, other.begin()));
    EXPECT_EQ(other[19], 7);
    EXPECT_EQ(key, Auth::tokenKey(0x01020304ull));
}

TEST(AuthTokenTest, TokenFollowsThe30SecondStepOfTheClock) {
    test::StatsWorld world;
    Message message;
    EXPECT_EQ(Auth::makeAuthToken(message), "");  // no app record

    message.app = Message::AppInfo{};
    message.app->ins = 1700000000123;
    const Auth::Key key = Auth::tokenKey(message.app->ins);
    world.setDate(29.999);
    const std::string first = Auth::makeAuthToken(message);
    EXPECT_EQ(first, Auth::oneTimeCode(key, 0));
    world.setDate(0);
    EXPECT_EQ(Auth::makeAuthToken(message), first);
    world.setDate(30);
    EXPECT_EQ(Auth::makeAuthToken(message), Auth::oneTimeCode(key, 1));
    EXPECT_NE(Auth::oneTimeCode(key, 1), first);

    // Only the low 32 bits of the identifier reach the key.
    Message other = message;
    other.app->ins += 1ull << 40;
    EXPECT_EQ(Auth::makeAuthToken(other), Auth::makeAuthToken(message));
    for (uint64_t step = 0; step < 200; ++step) {
        const std::string code = Auth::oneTimeCode(key, step);
        ASSERT_EQ(code.size(), 6u);
        ASSERT_TRUE(std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }));
    }
}

TEST(InstallationIdTest, StoredTextReadsOnlyAsAPlainDecimalNumber) {
    test::StatsWorld world;
    const auto defaults = NSUserDefaults::standardUserDefaults();
    EXPECT_EQ(readInstallationId(), 0u);  // nothing stored
    struct Case {
        const char* text;
        uint64_t value;
    };
    for (const Case& c : {Case{"+123", 123}, Case{"18446744073709551615", UINT64_MAX}, Case{"007", 7},
                          Case{"123 ", 0}, Case{" 123", 0}, Case{"-5", 0}, Case{"", 0}, Case{"+", 0},
                          Case{"++1", 0}, Case{"0x10", 0}, Case{"18446744073709551616", 0}, Case{"0", 0}}) {
        defaults->setObject(c.text, kInstallationIdKey);
        EXPECT_EQ(readInstallationId(), c.value) << '"' << c.text << '"';
    }
}

TEST(InstallationIdTest, UnreadableTextIsReplacedByANewIdentifierThatIsKept) {
    for (const char* stored : {"-5", "12 ", "", "0", "99999999999999999999"}) {
        test::StatsWorld world;
        NSUserDefaults::standardUserDefaults()->setObject(stored, kInstallationIdKey);
        EXPECT_EQ(installationId(), 1700000000123u) << '"' << stored << '"';
        // Stored for later runs, and cached for this one.
        EXPECT_EQ(NSUserDefaults(world.scratch().file("user-defaults.json")).stringForKey(kInstallationIdKey),
                  "1700000000123");
        NSUserDefaults::standardUserDefaults()->setObject("5", kInstallationIdKey);
        world.setDate(1800000000);
        EXPECT_EQ(installationId(), 1700000000123u);
    }
}

TEST(InstallationIdTest, StoredIdentifierIsUsedAndAClockBefore1970StillMakesOne) {
    {
        test::StatsWorld world;
        NSUserDefaults::standardUserDefaults()->setObject("+77", kInstallationIdKey);
        EXPECT_EQ(installationId(), 77u);
        EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey(kInstallationIdKey), "+77");
    }
    test::StatsWorld world;
    world.setDate(-1);
    EXPECT_EQ(installationId(), 1u);
}

}  // namespace
}  // namespace kv
