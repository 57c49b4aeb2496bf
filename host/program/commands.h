#pragma once
// The program's subcommands. Each writes its results to `out`, its errors
// and progress to `err`, and answers the exit status.
#include <cstdint>
#include <functional>
#include <ostream>
#include <string_view>

#include "host/program/command_line.h"

namespace kv::host {

struct CommandContext {
    std::ostream& out;
    std::ostream& err;
    bool showProgress = false;
    // True once the user asked to stop.
    std::function<bool()> interrupted = [] { return false; };
};

int runCommand(const AnalyzeCommand& command, const CommandContext& context);

// Where a finished render's time went: reading and decoding the frames, the
// effect's state and render calls, and encoding and writing.
struct RenderTimes {
    int64_t frames = 0;
    double decodeSeconds = 0;
    double effectSeconds = 0;
    double encodeSeconds = 0;
};
int runCommand(const RenderCommand& command, const CommandContext& context, RenderTimes* times = nullptr);
int runCommand(const SetCommand& command, const CommandContext& context);
int runCommand(const InfoCommand& command, const CommandContext& context);

}  // namespace kv::host

namespace kv::host {

// Writes "kestrelvantage-host: MESSAGE" to the error stream; answers 1.
int reportFailure(const CommandContext& context, std::string_view message);

}  // namespace kv::host
