#pragma once
// A program started by a test, its standard output and error kept in files,
// waited for with a deadline and killed if it outlives the test.
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace kv::testing {

class ChildProcess {
public:
    // Starts `program` with the test's environment changed by `environment`
    // (an empty value removes the variable).
    ChildProcess(const std::filesystem::path& program, const std::map<std::string, std::string>& environment);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // The exit status, or none when the program was still running after
    // `seconds` or ended by a signal.
    std::optional<int> waitForExit(double seconds);
    bool running();
    std::string standardError() const;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::filesystem::path errorFile_;
};

}  // namespace kv::testing
