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
    explicit LogRouting(const LogOptions& options) {
        if (options.file) {
            auto file = std::shared_ptr<std::FILE>(openForAppending(*options.file, failure_), closeFile);
            ok_ = bool(file);
            previous_ = setLogSink([file, verbose = options.verbose](std::string_view message) {
                const std::string line = logLine(message);
                if (file) {
                    std::fputs((line + '\n').c_str(), file.get());
                    std::fflush(file.get());
                }
                if (verbose) writeLogLineToStandardError(line);
            });
        } else if (options.verbose) {
            previous_ = setLogSink(nullptr);
        } else {
            previous_ = setLogSink([](std::string_view) {});
        }
    }
    ~LogRouting() { setLogSink(std::move(previous_)); }
    bool ok() const { return ok_; }
    // Why the log file cannot be written.
    const std::string& failure() const { return failure_; }

private:
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

    LogSink previous_;
    bool ok_ = true;
    std::string failure_;
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
