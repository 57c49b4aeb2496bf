#include "tests/support/display_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <gtk/gtk.h>

#include "platform/appkit/toolkit.h"

extern char** environ;

namespace kv::testing {
namespace {

constexpr int kStartSeconds = 10;

class XvfbServer : public ::testing::Environment {
public:
    XvfbServer() { start(); }

    void TearDown() override { stop(); }

    VirtualDisplay display;

private:
    void start() {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0) {
            display.whyNot = "no pipe";
            return;
        }
        // Xvfb writes the display number it bound to fd 3 once it accepts clients.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", "800x600x24", "-nolisten", "tcp", nullptr};
        const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(ready[1]);
        if (spawned != 0) {
            close(ready[0]);
            pid_ = -1;
            display.whyNot = "Xvfb is not installed (package xvfb)";
            return;
        }
        std::string number;
        pollfd waiting{ready[0], POLLIN, 0};
        char c = 0;
        while (poll(&waiting, 1, kStartSeconds * 1000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
        close(ready[0]);
        if (number.empty()) {
            display.whyNot = "Xvfb did not report a display within " + std::to_string(kStartSeconds) + " s";
            stop();
            return;
        }
        display.name = ":" + number;
    }

    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            usleep(10'000);
        }
        pid_ = -1;
    }

    pid_t pid_ = -1;
};

XvfbServer& server() {
    // Owned by GoogleTest, which tears it down after the last test.
    static XvfbServer* const instance = [] {
        auto* created = new XvfbServer();
        ::testing::AddGlobalTestEnvironment(created);
        return created;
    }();
    return *instance;
}

}  // namespace

const VirtualDisplay& virtualDisplay() { return server().display; }

bool openToolkitOnVirtualDisplay(std::string& why) {
    const VirtualDisplay& display = virtualDisplay();
    if (display.name.empty()) {
        why = display.whyNot;
        return false;
    }
    // The X backend on the test's own display; plain software drawing and no
    // accessibility bus, which a bare test machine does not have.
    setenv("DISPLAY", display.name.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    setenv("GDK_BACKEND", "x11", 1);
    setenv("GSK_RENDERER", "cairo", 1);
    setenv("GTK_A11Y", "none", 1);
    if (!appkit::openToolkit()) {
        why = "the toolkit cannot open display " + display.name;
        return false;
    }
    return true;
}

bool spinEventsUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        // Wakes at least every 10 ms to look at the clock.
        GSource* tick = g_timeout_source_new(10);
        g_source_set_callback(tick, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(tick, nullptr);
        g_main_context_iteration(nullptr, TRUE);
        g_source_destroy(tick);
        g_source_unref(tick);
    }
    return true;
}

}  // namespace kv::testing
