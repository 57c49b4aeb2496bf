#pragma once
// Starts a program for a test or a benchmark with its output thrown away.
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace kv::testing {

// Starts `program` with `arguments` (not counting its own name) and
// `environment` ("NAME=value" entries; none: this process's own), its
// standard output thrown away and, unless `keepErrors`, its standard error
// too. The child's id, or -1 when it could not be started.
inline pid_t spawnQuietly(const std::string& program, const std::vector<std::string>& arguments,
                          const std::vector<std::string>* environment = nullptr, bool keepErrors = false) {
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment ? *environment : std::vector<std::string>{};
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!keepErrors) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environment ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

}  // namespace kv::testing
