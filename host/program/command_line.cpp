#include "host/program/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace kv::host {

std::optional<double> parseFiniteNumber(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
    return value;
}

namespace {

const char* kLogOptionsHelp =
    "      --log FILE       append the system log (the effect's and the host's log\n"
    "                       lines) to FILE\n"
    "      --verbose        write the system log to standard error (no progress bar)\n"
    "  -h, --help           show this help\n";

std::string usageHint(std::string_view command) {
    return "; see '" + std::string(kProgramName) + (command.empty() ? "" : " " + std::string(command)) + " --help'";
}

Result<double> seconds(const std::string& text, std::string_view option) {
    const std::optional<double> value = parseFiniteNumber(text);
    if (!value) return Error{std::string(option) + " needs a number of seconds, not '" + text + "'"};
    return *value;
}

// Reads "--name VALUE", "--name=VALUE" and flags; everything else is an operand.
class Arguments {
public:
    Arguments(std::vector<std::string> args, std::string command)
        : args_(std::move(args)), command_(std::move(command)) {}

    // Walks the arguments, handing each option's value to its reader; what
    // is not an option (or comes after "--") is an operand.
    Result<std::vector<std::string>> walk(
        const std::map<std::string, std::function<Result<void>(const std::string&)>, std::less<>>& valued,
        const std::map<std::string, std::function<void()>, std::less<>>& flags) {
        std::vector<std::string> operands;
        bool optionsEnded = false;
        for (size_t i = 0; i < args_.size(); ++i) {
            const std::string& arg = args_[i];
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
            if (auto flag = flags.find(name); flag != flags.end() && equals == std::string::npos) {
                flag->second();
                continue;
            }
            auto option = valued.find(name);
            if (option == valued.end()) return Error{"unknown option " + name + usageHint(command_)};
            std::string value;
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < args_.size()) {
                value = args_[++i];
            } else {
                return Error{name + " needs a value" + usageHint(command_)};
            }
            if (auto taken = option->second(value); !taken) return taken.error();
        }
        return operands;
    }

private:
    std::vector<std::string> args_;
    std::string command_;
};

}  // namespace

Result<CommandLine> parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    if (arguments.empty()) return Error{"no command given" + usageHint("")};
    const std::string& command = arguments.front();
    if (command == "-h" || command == "--help" || command == "help") {
        line.command = HelpCommand{arguments.size() > 1 && command == "help" ? arguments[1] : ""};
        return line;
    }
    if (command != "analyze" && command != "set" && command != "info") {
        return Error{"unknown command '" + command + "'" + usageHint("")};
    }

    bool help = false;
    std::optional<std::string> project;
    AnalyzeCommand analyze;
    InfoCommand info;
    std::map<std::string, std::function<Result<void>(const std::string&)>, std::less<>> valued{
        {"--project", [&](const std::string& v) -> Result<void> { project = v; return {}; }},
        {"-p", [&](const std::string& v) -> Result<void> { project = v; return {}; }},
        {"--log", [&](const std::string& v) -> Result<void> { line.log.file = v; return {}; }},
    };
    std::map<std::string, std::function<void()>, std::less<>> flags{
        {"--help", [&] { help = true; }},
        {"-h", [&] { help = true; }},
        {"--verbose", [&] { line.log.verbose = true; }},
    };
    if (command == "analyze") {
        valued["--start"] = [&](const std::string& v) -> Result<void> {
            auto s = seconds(v, "--start");
            if (!s) return s.error();
            analyze.start = *s;
            return {};
        };
        valued["--duration"] = [&](const std::string& v) -> Result<void> {
            auto s = seconds(v, "--duration");
            if (!s) return s.error();
            analyze.duration = *s;
            return {};
        };
        flags["--synthetic"] = [&] { analyze.synthetic = true; };
        flags["--fresh"] = [&] { analyze.fresh = true; };
    }
    if (command == "info") flags["--parameters"] = [&] { info.parameters = true; };

    auto operands = Arguments({arguments.begin() + 1, arguments.end()}, command).walk(valued, flags);
    if (!operands) return operands.error();
    if (help) {
        line.command = HelpCommand{command};
        return line;
    }
    if (!project || project->empty()) return Error{command + " needs --project FILE" + usageHint(command)};

    if (command == "analyze") {
        if (analyze.synthetic == !operands->empty() || operands->size() > 1) {
            return Error{"analyze needs one VIDEO file, or --synthetic" + usageHint(command)};
        }
        if (!analyze.synthetic) analyze.video = operands->front();
        analyze.project = *project;
        line.command = analyze;
    } else if (command == "set") {
        if (operands->empty()) return Error{"set needs at least one ID=VALUE" + usageHint(command)};
        line.command = SetCommand{*project, *operands};
    } else {
        if (!operands->empty()) return Error{"info takes no operand '" + operands->front() + "'" + usageHint(command)};
        info.project = *project;
        line.command = info;
    }
    return line;
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
               "outside the range are kept, so parts of a clip can be analysed one by one.\n\n"
               "  -p, --project FILE   the project file (JSON)\n"
               "      --start S        begin the range S seconds into the clip (default 0)\n"
               "      --duration D     analyse D seconds (default: to the end of the clip)\n"
               "      --synthetic      use the built-in synthetic clip instead of a video\n"
               "      --fresh          replace the project's analysis (also one of another\n"
               "                       video) instead of continuing it\n" +
               kLogOptionsHelp +
               "\nA progress bar with the speed in frames per second is shown on standard\n"
               "error when it is a terminal. Ctrl-C stops the analysis; what is done so far\n"
               "is saved.\n";
    }
    if (command == "set") {
        return "Usage: " + program + " set --project FILE ID=VALUE ...\n\n" +
               "Changes parameters of the effect, as the host's inspector does, and tells\n"
               "the effect of each change. Sliders take a number (percent sliders also\n"
               "\"30%\"), within the parameter's range; toggles true or false; text\n"
               "parameters any text. '" + program + " info --project FILE --parameters'\n" +
               "lists the ids. Nothing is changed unless every assignment is valid.\n\n" +
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
           "  analyze VIDEO --project FILE   analyse a video (or --synthetic) into a project\n"
           "  set --project FILE ID=VALUE    change parameters of the effect\n"
           "  info --project FILE            describe the stored analysis\n\n" +
           "Run '" + program + " COMMAND --help' for the options of a command.\n";
}

}  // namespace kv::host
