#include "tests/container_app/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

extern char** environ;

namespace kv::testing {

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::map<std::string, std::string>& environment) {
    errorFile_ = std::filesystem::temp_directory_path() /
                 ("kv-child-" + std::to_string(getpid()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable(*entry);
        if (!environment.contains(variable.substr(0, variable.find('=')))) variables.push_back(variable);
    }
    for (const auto& [name, value] : environment) {
        if (!value.empty()) variables.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    std::error_code ignored;
    std::filesystem::remove(errorFile_, ignored);
}

bool ChildProcess::running() {
    if (pid_ <= 0 || reaped_) return false;
    reaped_ = waitpid(pid_, &status_, WNOHANG) == pid_;
    return !reaped_;
}

std::optional<int> ChildProcess::waitForExit(double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (running()) {
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        usleep(10'000);
    }
    if (!reaped_ || !WIFEXITED(status_)) return std::nullopt;
    return WEXITSTATUS(status_);
}

std::string ChildProcess::standardError() const {
    std::ifstream in(errorFile_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace kv::testing
