#pragma once
// The program's command line: a subcommand, its operands and its options,
// in the manner of the common video tools ("--project FILE" or
// "--project=FILE"), and the help text of each subcommand.
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/foundation/result.h"

namespace kv::host {

inline constexpr const char* kProgramName = "kestrelvantage-host";

// Where the system log goes: dropped unless a file or standard error is asked for.
struct LogOptions {
    std::optional<std::string> file;
    bool verbose = false;
};

struct AnalyzeCommand {
    std::optional<std::string> video;  // none with `synthetic`
    bool synthetic = false;
    std::string project;
    double start = 0;
    std::optional<double> duration;
    // Replace the project's analysis rather than continue it.
    bool fresh = false;
};

struct SetCommand {
    std::string project;
    std::vector<std::string> assignments;  // "ID=VALUE"
};

struct InfoCommand {
    std::string project;
    bool parameters = false;
};

// Help on one subcommand, or on the program when `command` is empty.
struct HelpCommand {
    std::string command;
};

struct CommandLine {
    std::variant<HelpCommand, AnalyzeCommand, SetCommand, InfoCommand> command;
    LogOptions log;
};

// The parsed command line, or an error that says what is wrong with it.
Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments);

// The whole text as a finite number, or none.
std::optional<double> parseFiniteNumber(const std::string& text);

// The help text of a subcommand ("analyze", "set", "info"), or of the
// program for any other name.
std::string helpText(std::string_view command);

}  // namespace kv::host
