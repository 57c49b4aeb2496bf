#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Configured {
    bool accepted;
    std::string output;
};

// Runs the build's check of the statistics endpoint on `url`.
Configured configure(const std::string& url) {
    const std::string command = std::string("'") + KV_CMAKE_COMMAND + "' '-DKV_STATISTICS_ENDPOINT=" + url + "' -P '" +
                                KV_ENDPOINT_CHECK + "' 2>&1";
    Configured result{false, ""};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[512];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.accepted = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

TEST(StatisticsEndpointConfigurationTest, OnlyAnHttpsEndpointOrNoneIsAccepted) {
    for (const std::string url : {"", "https://127.0.0.1/backend/stat", "HTTPS://stats.example/backend/stat"}) {
        EXPECT_TRUE(configure(url).accepted) << url;
    }
    for (const std::string url : {"http://127.0.0.1/backend/stat", "ftp://127.0.0.1/backend/stat",
                                  "127.0.0.1/backend/stat", "https:///backend/stat"}) {
        const Configured configured = configure(url);
        EXPECT_FALSE(configured.accepted) << url;
        EXPECT_NE(configured.output.find("KV_STATISTICS_ENDPOINT is"), std::string::npos) << configured.output;
    }
}

}  // namespace
