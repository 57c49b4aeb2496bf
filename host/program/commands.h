#pragma once
// The program's subcommands. Each writes its results to `out`, its errors
// and progress to `err`, and answers the exit status.
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
int runCommand(const SetCommand& command, const CommandContext& context);
int runCommand(const InfoCommand& command, const CommandContext& context);

}  // namespace kv::host

namespace kv::host {

// Writes "kestrelvantage-host: MESSAGE" to the error stream; answers 1.
int reportFailure(const CommandContext& context, std::string_view message);

}  // namespace kv::host
