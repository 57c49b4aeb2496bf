#include "host/program/command_line.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <map>

namespace kv::host {

std::optional<double> parseFiniteNumber(std::string_view text) {
    // The decimal form alone: an optional sign, digits with at most one
    // point, an optional exponent. The C library would also read blanks,
    // hexadecimal, "inf" and "nan"; the help promises none of them.
    size_t i = 0;
    const auto digits = [&] {
        const size_t from = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i - from;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t mantissaDigits = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        if (digits() == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    // from_chars reads no '+' and ignores the locale's decimal separator.
    const size_t from = text[0] == '+' ? 1 : 0;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + from, text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value == 0 ? 0.0 : value;  // -0 is 0
}

std::optional<uint32_t> parseWholeNumber(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const std::optional<double> value = parseFiniteNumber(text);
    if (!value || *value > double(UINT32_MAX)) return std::nullopt;
    return uint32_t(*value);
}

namespace {

const char* kLogOptionsHelp =
    "      --log FILE       append the system log (the effect's and the host's log\n"
    "                       lines) to FILE\n"
    "      --verbose        write the system log to standard error (no progress bar),\n"
    "                       the same lines as --log writes\n"
    "  -h, --help           show this help\n";

std::string usageHint(std::string_view command) {
    return "; see '" + std::string(kProgramName) + (command.empty() ? "" : " " + std::string(command)) + " --help'";
}

// The "Usage:" lines at the head of a command's help.
std::string usageLines(std::string_view command) {
    const std::string help = helpText(command);
    return help.substr(0, help.find("\n\n"));
}

Result<double> secondsIn(const std::string& text, std::string_view option) {
    const std::optional<double> value = parseFiniteNumber(text);
    if (!value) {
        return Error{std::string(option) + " needs a number of seconds in decimal, such as 2 or 1.5, not '" + text +
                     "'"};
    }
    return *value;
}

// The options one command takes: those with a value, each with its reader,
// and flags.
struct OptionTable {
    std::map<std::string, std::function<Result<void>(const std::string&)>, std::less<>> valued;
    std::map<std::string, std::function<void()>, std::less<>> flags;

    void value(std::initializer_list<const char*> names, const std::function<Result<void>(const std::string&)>& read) {
        for (const char* name : names) valued[name] = read;
    }
    template <class Place>  // a text or an optional one
    void text(std::initializer_list<const char*> names, Place& place) {
        value(names, [&place](const std::string& v) -> Result<void> { place = v; return {}; });
    }
    template <class Place>  // a double or an optional one
    void seconds(const char* name, Place& place) {
        value({name}, [name, &place](const std::string& v) -> Result<void> {
            auto s = secondsIn(v, name);
            if (!s) return s.error();
            place = *s;
            return {};
        });
    }
    void flag(std::initializer_list<const char*> names, bool& place) {
        for (const char* name : names) flags[name] = [&place] { place = true; };
    }
};

// Walks a command's arguments: reads "--name VALUE", "--name=VALUE" and flags
// through the table; what is not an option (or comes after "--") is an
// operand. An option the table lacks is refused with the command's usage.
Result<std::vector<std::string>> walk(const std::vector<std::string>& args, const OptionTable& table,
                                      const std::string& command) {
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (auto flag = table.flags.find(name); flag != table.flags.end()) {
            if (equals != std::string::npos) return Error{name + " takes no value" + usageHint(command)};
            flag->second();
            continue;
        }
        auto option = table.valued.find(name);
        if (option == table.valued.end()) {
            return Error{command + " takes no option " + name + usageHint(command) + "\n" + usageLines(command)};
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return Error{name + " needs a value" + usageHint(command)};
        }
        if (auto taken = option->second(value); !taken) return taken.error();
    }
    return operands;
}

// Each command's own options, and what it makes of its operands.

// The clip and its range, the same for analyze and render.
template <class Command>
void addRangeOptions(OptionTable& table, Command& command) {
    table.seconds("--start", command.start);
    table.seconds("--duration", command.duration);
    table.flag({"--synthetic"}, command.synthetic);
}

void addOptions(OptionTable& table, AnalyzeCommand& command) {
    addRangeOptions(table, command);
    table.flag({"--fresh"}, command.fresh);
}

// One video operand, or none with --synthetic.
Result<void> takeVideo(const std::vector<std::string>& operands, bool synthetic, std::optional<std::string>& video,
                       const std::string& command) {
    if (synthetic == !operands.empty() || operands.size() > 1) {
        return Error{command + " needs one VIDEO file, or --synthetic" + usageHint(command)};
    }
    if (!synthetic) video = operands.front();
    return {};
}

Result<void> takeOperands(AnalyzeCommand& command, const std::vector<std::string>& operands) {
    return takeVideo(operands, command.synthetic, command.video, "analyze");
}

void addOptions(OptionTable& table, RenderCommand& command) {
    addRangeOptions(table, command);
    table.text({"--output", "-o"}, command.output);
    table.seconds("--frame", command.frame);
    table.text({"--codec"}, command.codec);
}

Result<void> takeOperands(RenderCommand& command, const std::vector<std::string>& operands) {
    if (auto video = takeVideo(operands, command.synthetic, command.video, "render"); !video) return video;
    if (command.output.empty()) return Error{"render needs -o OUTPUT" + usageHint("render")};
    if (command.frame && (command.start != 0 || command.duration)) {
        return Error{"render takes --frame or a range (--start, --duration), not both" + usageHint("render")};
    }
    return {};
}

void addOptions(OptionTable&, SetCommand&) {}

Result<void> takeOperands(SetCommand& command, const std::vector<std::string>& operands) {
    if (operands.empty()) return Error{"set needs at least one ID=VALUE" + usageHint("set")};
    command.assignments = operands;
    return {};
}

void addOptions(OptionTable& table, InfoCommand& command) { table.flag({"--parameters"}, command.parameters); }

Result<void> takeOperands(InfoCommand&, const std::vector<std::string>& operands) {
    if (!operands.empty()) return Error{"info takes no operand '" + operands.front() + "'" + usageHint("info")};
    return {};
}

// A command's line: the options every command takes (the project, the log
// and help), its own options, then its operands.
template <class Command>
Result<CommandLine> parseCommand(const std::string& name, const std::vector<std::string>& args) {
    CommandLine line;
    Command command;
    bool help = false;
    OptionTable table;
    table.text({"--project", "-p"}, command.project);
    table.value({"--log"}, [&line](const std::string& v) -> Result<void> { line.log.file = v; return {}; });
    table.flag({"--help", "-h"}, help);
    table.flag({"--verbose"}, line.log.verbose);
    addOptions(table, command);

    auto operands = walk(args, table, name);
    if (!operands) return operands.error();
    if (help) {
        line.command = HelpCommand{name};
        return line;
    }
    if (command.project.empty()) return Error{name + " needs --project FILE" + usageHint(name)};
    if (auto taken = takeOperands(command, *operands); !taken) return taken.error();
    line.command = std::move(command);
    return line;
}

}  // namespace

Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return Error{"no command given" + usageHint("")};
    const std::string& command = arguments.front();
    if (command == "-h" || command == "--help" || command == "help") {
        CommandLine line;
        line.command = HelpCommand{arguments.size() > 1 && command == "help" ? arguments[1] : ""};
        return line;
    }
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (command == "analyze") return parseCommand<AnalyzeCommand>(command, rest);
    if (command == "render") return parseCommand<RenderCommand>(command, rest);
    if (command == "set") return parseCommand<SetCommand>(command, rest);
    if (command == "info") return parseCommand<InfoCommand>(command, rest);
    return Error{"unknown command '" + command + "'" + usageHint("")};
}

std::string helpText(std::string_view command) {
    const std::string program = kProgramName;
    if (command == "analyze") {
        return "Usage: " + program + " analyze VIDEO --project FILE [--start S] [--duration D] [--fresh]\n" +
               "       " + program + " analyze --synthetic --project FILE [--start S] [--duration D]\n\n" +
               "Applies the effect to the video (or to the built-in synthetic clip) and\n"
               "presses its \"Analyze Clip\" button: the host then hands the effect every frame\n"
               "of the range in time order, and the effect stores its analysis in the\n"
               "project. A project that does not exist yet is created. Samples stored\n"
               "outside the range are kept, so parts of a clip can be analyzed one by one.\n\n"
               "  -p, --project FILE   the project file (JSON)\n"
               "      --start S        begin the range S seconds into the clip (default 0);\n"
               "                       S and D are decimal numbers such as 2 or 1.5\n"
               "      --duration D     analyze D seconds (default: to the end of the clip)\n"
               "      --synthetic      use the built-in synthetic clip instead of a video\n"
               "      --fresh          replace the project's analysis (also one of another\n"
               "                       video) instead of continuing it\n" +
               kLogOptionsHelp +
               "\nA progress bar with the speed in frames per second is shown on standard\n"
               "error when it is a terminal. Ctrl-C stops the analysis; what is done so far\n"
               "is saved.\n";
    }
    if (command == "render") {
        return "Usage: " + program + " render VIDEO --project FILE -o OUTPUT [--start S] [--duration D]\n" +
               "       " + program + " render VIDEO --project FILE --frame S -o STILL.png\n" +
               "       (or --synthetic in place of VIDEO)\n\n" +
               "Renders every frame of the range through the effect, as the editing host\n"
               "plays it: the frame's state, then the render, with the parameters the\n"
               "project holds (Enable 70, the exam view 71, the bounds overlay 72, framing,\n"
               "keyframes). The output keeps the video's size, frame times and audio;\n"
               "its format follows its name (H.264 in .mp4 by default). With --frame, the\n"
               "one frame shown at S seconds is written as a PNG with its alpha.\n\n"
               "  -p, --project FILE   the project file (JSON); it must exist\n"
               "  -o, --output FILE    the video (or PNG) to write; replaced only once complete\n"
               "      --start S        begin the range S seconds into the clip (default 0)\n"
               "      --duration D     render D seconds (default: to the end of the clip)\n"
               "      --frame S        write only the frame at S seconds, as a PNG\n"
               "      --codec NAME     an FFmpeg video encoder (e.g. libx264, ffv1)\n"
               "      --synthetic      use the built-in synthetic clip instead of a video\n" +
               kLogOptionsHelp +
               "\nA progress bar is shown as for analyze. Ctrl-C stops the render and\n"
               "removes what it had written.\n";
    }
    if (command == "set") {
        return "Usage: " + program + " set --project FILE ID=VALUE ...\n\n" +
               "Changes parameters of the effect, as the host's inspector does, and tells\n"
               "the effect of each change. Sliders take a decimal number within the\n"
               "parameter's range, in the unit the inspector shows: percent sliders in\n"
               "percent, with or without \"%\" (34=30 and 34=30% are both 30%); toggles\n"
               "take true or false, in any case; text parameters any UTF-8 text.\n"
               "Display-only parameters, groups, buttons and the stored analysis cannot\n"
               "be set. '" + program + " info --project FILE --parameters' lists the ids\n" +
               "and values. Nothing is changed unless every assignment is valid.\n\n" +
               "  -p, --project FILE   the project file (JSON); it must exist\n" + kLogOptionsHelp;
    }
    if (command == "info") {
        return "Usage: " + program + " info --project FILE [--parameters]\n\n" +
               "Describes the analysis stored in the project: image size, number of\n"
               "samples, their time span, boxes per sample, and whether the stored hash\n"
               "matches the stored data.\n\n" +
               "  -p, --project FILE   the project file (JSON); it must exist\n" +
               "      --parameters     also list every parameter with its id and value\n" + kLogOptionsHelp;
    }
    return "Usage: " + program + " COMMAND [OPTIONS]\n\n" +
           "The stand-in editing host: runs the Kestrelvantage effect over a video and\n"
           "keeps its project on disk.\n\n"
           "Commands:\n"
           "  analyze VIDEO --project FILE   analyze a video (or --synthetic) into a project\n"
           "  render VIDEO -p FILE -o OUT    render the video through the effect\n"
           "  set --project FILE ID=VALUE    change parameters of the effect\n"
           "  info --project FILE            describe the stored analysis\n\n" +
           "Run '" + program + " COMMAND --help' for the options of a command.\n";
}

}  // namespace kv::host
