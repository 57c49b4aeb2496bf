#include "host/program/program.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/program/command_line.h"
#include "host/program/commands.h"
#include "platform/foundation/log.h"

namespace kv::host {
namespace {

std::atomic<bool> interruptRequested{false};

// Routes the system log as the options say while it lives.
class LogRouting {
public:
    explicit LogRouting(const LogOptions& options) : routing_(setLogSink, sinkFor(options)) {}
    bool ok() const { return ok_; }
    // Why the log file cannot be written.
    const std::string& failure() const { return failure_; }

private:
    // Where the options send log lines: a file (and standard error when
    // verbose), standard error alone (the empty sink), or nowhere.
    LogSink sinkFor(const LogOptions& options) {
        if (options.file) {
            auto file = std::shared_ptr<std::FILE>(openForAppending(*options.file, failure_), closeFile);
            ok_ = bool(file);
            return [file, verbose = options.verbose](std::string_view message) {
                const std::string line = logLine(message);
                if (file) writeLogLine(file.get(), line);
                if (verbose) writeLogLine(stderr, line);
            };
        }
        if (options.verbose) return nullptr;
        return [](std::string_view) {};
    }

    // Opened without waiting: a named pipe no program reads would otherwise
    // hold the command before it starts, deaf to Ctrl-C.
    static std::FILE* openForAppending(const std::string& path, std::string& failure) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0) {
            failure = errno == ENXIO ? "it is a named pipe that no program reads" : std::strerror(errno);
            return nullptr;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        std::FILE* file = ::fdopen(fd, "a");
        if (!file) {
            failure = std::strerror(errno);
            ::close(fd);
        }
        return file;
    }
    static void closeFile(std::FILE* file) {
        if (file) std::fclose(file);
    }

    bool ok_ = true;
    std::string failure_;
    ScopedOverride<LogSink> routing_;  // after ok_ and failure_, which sinkFor sets
};

}  // namespace

void requestInterrupt() { interruptRequested = true; }

bool interruptPending() { return interruptRequested; }

int runProgram(const std::vector<std::string>& arguments, const ProgramStreams& streams) {
    auto line = parseCommandLine(arguments);
    if (!line) {
        streams.err << kProgramName << ": " << line.error().message << "\n";
        return 2;
    }
    if (const auto* help = std::get_if<HelpCommand>(&line->command)) {
        streams.out << helpText(help->command);
        return 0;
    }
    LogRouting routing(line->log);
    if (!routing.ok()) {
        streams.err << kProgramName << ": cannot write the log file " << *line->log.file << ": " << routing.failure()
                    << "\n";
        return 1;
    }
    // Log lines on standard error would break the bar.
    const bool progress = streams.errIsTerminal && !line->log.verbose;
    CommandContext context{streams.out, streams.err, progress, interruptPending};
    return std::visit(
        [&](const auto& command) -> int {
            using T = std::decay_t<decltype(command)>;
            if constexpr (std::is_same_v<T, HelpCommand>) {
                return 0;
            } else {
                return runCommand(command, context);
            }
        },
        line->command);
}

}  // namespace kv::host
