#pragma once
// The program's command line: a subcommand, its operands and its options,
// in the manner of the common video tools ("--project FILE" or
// "--project=FILE"), and the help text of each subcommand.
#include <cstdint>
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

// Renders the video (or the synthetic clip) through the effect as the
// project holds it, into a video file or, with `frame`, one PNG still.
struct RenderCommand {
    std::optional<std::string> video;  // none with `synthetic`
    bool synthetic = false;
    std::string project;
    std::string output;
    double start = 0;
    std::optional<double> duration;
    std::optional<double> frame;       // the time of the still, in seconds
    std::optional<std::string> codec;  // an FFmpeg encoder by name
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
    std::variant<HelpCommand, AnalyzeCommand, RenderCommand, SetCommand, InfoCommand> command;
    LogOptions log;
};

// The parsed command line, or an error that says what is wrong with it.
Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments);

// The one reader of numbers on the command line. The whole text as a
// finite decimal number ("2", "-0.5", "1.5e3"; -0 reads as 0), or none for
// anything else: blanks, hexadecimal, "inf", "nan", a locale's comma.
std::optional<double> parseFiniteNumber(std::string_view text);

// The whole text as a whole number of decimal digits alone that fits 32
// bits (a parameter id), or none.
std::optional<uint32_t> parseWholeNumber(std::string_view text);

// The help text of a subcommand ("analyze", "render", "set", "info"), or of the
// program for any other name.
std::string helpText(std::string_view command);

}  // namespace kv::host
