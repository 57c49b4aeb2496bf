#include <gtest/gtest.h>

#include <sys/wait.h>

#include <random>
#include <string>
#include <vector>

#include "tests/stats/https_test_server.h"
#include "tests/support/quiet_spawn.h"

namespace kv {
namespace {

// Starts the probe program that begins an upload to `server` and ends
// after `delayMicroseconds`; its output goes nowhere.
pid_t startProbe(const test::HttpsTestServer& server, const std::string& configHome, long delayMicroseconds) {
    // Its installation identifier goes to a scratch configuration directory.
    std::vector<std::string> variables{"XDG_CONFIG_HOME=" + configHome};
    for (char** entry = environ; *entry; ++entry) {
        if (!std::string_view(*entry).starts_with("XDG_CONFIG_HOME=")) variables.emplace_back(*entry);
    }
    return testing::spawnQuietly(KV_EXIT_PROBE,
                                 {server.url(), server.certificate().string(), std::to_string(delayMicroseconds)},
                                 &variables);
}

// The upload thread is never joined, and the statistics thread sleeps ten
// minutes: the process ends while they run, at any moment of an upload.
TEST(UploadExitTest, ProcessEndsCleanlyAtAnyMomentOfAnUpload) {
    test::HttpsTestServer server;
    ASSERT_EQ(server.failure(), "");
    testing::ScratchDirectory configHome;
    constexpr int kRuns = 500;
    constexpr int kAtOnce = 6;
    // Delays spread over the whole exchange on loopback: the thread's start,
    // the libraries' set-up, the TLS handshake, the answer and its completion.
    std::mt19937 random(16);
    std::uniform_int_distribution<long> delay(0, 20000);
    std::vector<int> abnormal;  // wait statuses of the runs that did not end with 0
    std::vector<pid_t> running;
    const auto reap = [&] {
        int status = 0;
        if (::waitpid(running.front(), &status, 0) > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            abnormal.push_back(status);
        }
        running.erase(running.begin());
    };
    for (int run = 0; run < kRuns; ++run) {
        if (running.size() == kAtOnce) reap();
        const pid_t pid = startProbe(server, configHome.file("").string(), delay(random));
        ASSERT_GT(pid, 0);
        running.push_back(pid);
    }
    while (!running.empty()) reap();
    EXPECT_EQ(abnormal.size(), 0u) << ::testing::PrintToString(abnormal);
    EXPECT_FALSE(server.requests().empty()) << "no upload got through: the delays are too short to test anything";
}

}  // namespace
}  // namespace kv
