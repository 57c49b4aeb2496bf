#pragma once
// A controlled world for the statistics tests: a fixed clock, a known
// machine and bundle, user defaults in a scratch file, no cached
// installation identifier, and the log and standard output captured.
#include <gtest/gtest.h>

#include "platform/foundation/bundle.h"
#include "platform/foundation/date.h"
#include "platform/foundation/log.h"
#include "platform/foundation/process_info.h"
#include "platform/foundation/standard_output.h"
#include "platform/foundation/user_defaults.h"
#include "stats/installation_id.h"
#include "tests/stats/https_test_server.h"

namespace kv::test {

// 2023-11-14 22:13:20.123 UTC.
inline constexpr double kNow = 1700000000.123;

class StatsWorld {
public:
    StatsWorld()
        : defaults_(scratch_.file("user-defaults.json")),
          host_(HostDescription{"arm64", "en_US", "Linux 6.1.0"}),
          bundle_(NSBundle::InfoDictionary{{"CFBundleIdentifier", std::string("com.orbelwick.fx_kestrelvantage")},
                                           {"CFBundleShortVersionString", std::string("1.2.3")}}) {
        forgetInstallationIdForTesting();
    }
    ~StatsWorld() { forgetInstallationIdForTesting(); }
    StatsWorld(const StatsWorld&) = delete;
    StatsWorld& operator=(const StatsWorld&) = delete;

    // Until the world ends, when the clock before comes back.
    void setDate(double secondsSince1970) { setDateSource([secondsSince1970] { return NSDate{secondsSince1970}; }); }

    const testing::ScratchDirectory& scratch() const { return scratch_; }
    LogCapture log;
    StandardOutputCapture out;

private:
    testing::ScratchDirectory scratch_;
    ScopedStandardUserDefaults defaults_;
    ScopedHostDescription host_;
    ScopedMainBundleInfo bundle_;
    ScopedOverride<DateSource> clock_{setDateSource, [] { return NSDate{kNow}; }};
};

}  // namespace kv::test
