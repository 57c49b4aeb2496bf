#include "host/program/program.h"

#include <atomic>
#include <fstream>
#include <memory>

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
            auto file = std::make_shared<std::ofstream>(*options.file, std::ios::app);
            ok_ = bool(*file);
            previous_ = setLogSink([file, verbose = options.verbose](std::string_view message) {
                const std::string line = logLine(message);
                *file << line << '\n' << std::flush;
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

private:
    LogSink previous_;
    bool ok_ = true;
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
        streams.err << kProgramName << ": cannot write the log file " << *line->log.file << "\n";
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
