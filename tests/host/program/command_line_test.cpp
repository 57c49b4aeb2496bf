#include "host/program/command_line.h"
#include "host/program/program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace kv::host {
namespace {

CommandLine parsed(const std::vector<std::string>& arguments) {
    auto line = parseCommandLine(arguments);
    EXPECT_TRUE(line.ok()) << (line.ok() ? "" : line.error().message);
    return line.ok() ? *line : CommandLine{};
}

std::string refusal(const std::vector<std::string>& arguments) {
    auto line = parseCommandLine(arguments);
    EXPECT_FALSE(line.ok());
    return line.ok() ? "" : line.error().message;
}

TEST(CommandLineTest, ReadsEachCommandWithItsOptionsInEitherForm) {
    const auto analyze = std::get<AnalyzeCommand>(
        parsed({"analyze", "clip.mp4", "--project=p.json", "--start", "1.5", "--duration=2", "--verbose"}).command);
    EXPECT_EQ(analyze.video, "clip.mp4");
    EXPECT_FALSE(analyze.synthetic);
    EXPECT_EQ(analyze.project, "p.json");
    EXPECT_EQ(analyze.start, 1.5);
    EXPECT_EQ(analyze.duration, 2.0);

    const auto synthetic = std::get<AnalyzeCommand>(parsed({"analyze", "--synthetic", "-p", "p.json"}).command);
    EXPECT_TRUE(synthetic.synthetic);
    EXPECT_FALSE(synthetic.video);
    EXPECT_EQ(synthetic.start, 0.0);
    EXPECT_FALSE(synthetic.duration);

    const CommandLine set = parsed({"set", "31=2", "--project", "p.json", "70=true", "--log", "l.txt"});
    EXPECT_EQ(std::get<SetCommand>(set.command).assignments, (std::vector<std::string>{"31=2", "70=true"}));
    EXPECT_EQ(set.log.file, "l.txt");

    const auto render = std::get<RenderCommand>(parsed({"render", "clip.mp4", "-p", "p.json", "-o", "out.mkv",
                                                        "--start=1", "--duration", "2", "--codec", "ffv1"})
                                                    .command);
    EXPECT_EQ(render.video, "clip.mp4");
    EXPECT_EQ(render.output, "out.mkv");
    EXPECT_EQ(render.start, 1.0);
    EXPECT_EQ(render.duration, 2.0);
    EXPECT_EQ(render.codec, "ffv1");
    const auto still =
        std::get<RenderCommand>(parsed({"render", "--synthetic", "-p", "p", "--frame", "0.5", "--output=s.png"}).command);
    EXPECT_TRUE(still.synthetic);
    EXPECT_EQ(still.frame, 0.5);
    EXPECT_EQ(still.output, "s.png");

    const auto info = std::get<InfoCommand>(parsed({"info", "--project", "p.json", "--parameters"}).command);
    EXPECT_TRUE(info.parameters);

    // A video named like an option can still be given after "--".
    EXPECT_EQ(std::get<AnalyzeCommand>(parsed({"analyze", "-p", "p", "--", "-odd.mp4"}).command).video, "-odd.mp4");
}

TEST(CommandLineTest, HelpIsGivenForEveryCommandWhateverElseIsThere) {
    EXPECT_EQ(std::get<HelpCommand>(parsed({"--help"}).command).command, "");
    EXPECT_EQ(std::get<HelpCommand>(parsed({"help", "set"}).command).command, "set");
    for (const char* command : {"analyze", "render", "set", "info"}) {
        EXPECT_EQ(std::get<HelpCommand>(parsed({command, "--help"}).command).command, command);
        EXPECT_EQ(std::get<HelpCommand>(parsed({command, "-p", "x", "-h"}).command).command, command);
        EXPECT_NE(helpText(command).find(std::string("Usage: kestrelvantage-host ") + command), std::string::npos);
    }
}

TEST(CommandLineTest, SaysWhatIsWrongWithACommandLine) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command"},
        {{"play", "-p", "x"}, "unknown command 'play'"},
        {{"render", "-p", "x", "-o", "o.mp4"}, "render needs one VIDEO file, or --synthetic"},
        {{"render", "a.mp4", "-p", "x"}, "render needs -o OUTPUT"},
        {{"render", "a.mp4", "-p", "x", "-o", "o.png", "--frame", "1", "--start", "2"}, "not both"},
        {{"render", "a.mp4", "-p", "x", "-o", "o.png", "--frame", "soon"}, "--frame needs a number of seconds"},
        {{"analyze", "clip.mp4"}, "needs --project FILE"},
        {{"analyze", "-p", "x"}, "one VIDEO file, or --synthetic"},
        {{"analyze", "a.mp4", "b.mp4", "-p", "x"}, "one VIDEO file"},
        {{"analyze", "a.mp4", "--synthetic", "-p", "x"}, "one VIDEO file, or --synthetic"},
        {{"analyze", "a.mp4", "-p", "x", "--start", "soon"},
         "--start needs a number of seconds in decimal, such as 2 or 1.5, not 'soon'"},
        {{"analyze", "a.mp4", "-p", "x", "--duration", "inf"}, "--duration needs a number"},
        {{"analyze", "a.mp4", "-p", "x", "--start", "0x4"}, "not '0x4'"},
        {{"analyze", "a.mp4", "-p", "x", "--start", " 4"}, "not ' 4'"},
        {{"analyze", "a.mp4", "-p", "x", "--duration=1,5"}, "not '1,5'"},
        {{"analyze", "a.mp4", "-p"}, "-p needs a value"},
        {{"set", "-p", "x"}, "at least one ID=VALUE"},
        {{"info", "-p", "x", "--start", "1"}, "info takes no option --start"},
        {{"analyze", "a.mp4", "-p", "x", "--synthetic=yes"}, "--synthetic takes no value"},
        {{"info", "-p", "x", "extra"}, "no operand 'extra'"},
    };
    for (const auto& [arguments, expected] : cases) {
        const std::string message = refusal(arguments);
        EXPECT_NE(message.find(expected), std::string::npos) << message;
    }
    EXPECT_NE(refusal({"info", "-p", "x", "--frobnicate"}).find("see 'kestrelvantage-host info --help'"),
              std::string::npos);
}

// Every command refuses the options of the others (and unknown ones) as a
// wrong command line, showing its own usage.
TEST(CommandLineTest, AnOptionACommandDoesNotTakeIsRefusedWithItsUsage) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"render", "a.mp4", "-p", "x", "-o", "o.mp4", "--fresh"},
         "Usage: kestrelvantage-host render VIDEO --project FILE -o OUTPUT [--start S] [--duration D]\n"},
        {{"render", "a.mp4", "-p", "x", "-o", "o.mp4", "--parameters"}, "Usage: kestrelvantage-host render VIDEO"},
        {{"analyze", "a.mp4", "-p", "x", "-o", "o.mp4"},
         "Usage: kestrelvantage-host analyze VIDEO --project FILE [--start S] [--duration D] [--fresh]\n"},
        {{"analyze", "a.mp4", "-p", "x", "--frame=1"}, "Usage: kestrelvantage-host analyze VIDEO"},
        {{"analyze", "a.mp4", "-p", "x", "--codec", "ffv1"}, "Usage: kestrelvantage-host analyze VIDEO"},
        {{"set", "-p", "x", "31=2", "--synthetic"}, "Usage: kestrelvantage-host set --project FILE ID=VALUE ...\n"},
        {{"set", "-p", "x", "31=2", "--start", "1"}, "Usage: kestrelvantage-host set --project FILE"},
        {{"info", "-p", "x", "--fresh"}, "Usage: kestrelvantage-host info --project FILE [--parameters]\n"},
        {{"info", "-p", "x", "--duration=2"}, "Usage: kestrelvantage-host info --project FILE"},
        {{"info", "-p", "x", "--frobnicate"}, "Usage: kestrelvantage-host info --project FILE"},
    };
    for (const auto& [arguments, usage] : cases) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(runProgram(arguments, {out, err}), 2) << arguments.back();
        const std::string option = arguments[arguments.size() - (arguments.back().starts_with("-") ? 1 : 2)];
        const std::string refused = "kestrelvantage-host: " + arguments[0] + " takes no option " +
                                    option.substr(0, option.find('='));
        EXPECT_TRUE(err.str().starts_with(refused)) << err.str();
        EXPECT_NE(err.str().find(usage), std::string::npos) << err.str();
        EXPECT_EQ(out.str(), "");
    }
}

TEST(CommandLineTest, NumbersAreDecimalAndNothingElse) {
    const std::pair<std::string, std::optional<double>> numbers[] = {
        {"2", 2.0},       {"-0.5", -0.5},     {"+1.5", 1.5},      {".5", 0.5},         {"5.", 5.0},
        {"1e3", 1000.0},  {"2.5E-1", 0.25},   {"-0", 0.0},        {"0x4", std::nullopt}, {" 2", std::nullopt},
        {"2 ", std::nullopt}, {"", std::nullopt}, {"-", std::nullopt}, {".", std::nullopt}, {"1e", std::nullopt},
        {"1,5", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt}, {"1e999", std::nullopt},
        {"+-1", std::nullopt}, {"1..2", std::nullopt}, {"\n1", std::nullopt},
    };
    for (const auto& [text, expected] : numbers) {
        const std::optional<double> value = parseFiniteNumber(text);
        EXPECT_EQ(value, expected) << "'" << text << "'";
        if (value && *value == 0) {
            EXPECT_FALSE(std::signbit(*value)) << "-0 reads as 0";
        }
    }
    EXPECT_EQ(parseWholeNumber("31"), 31u);
    EXPECT_EQ(parseWholeNumber("4294967295"), 4294967295u);
    for (const char* id : {"4294967296", "-1", "+31", "3.1", "1e1", " 31", "0x1f", ""}) {
        EXPECT_EQ(parseWholeNumber(id), std::nullopt) << id;
    }
    const CommandLine exponent = parsed({"analyze", "a.mp4", "-p", "x", "--start", "2.5e-1"});
    EXPECT_EQ(std::get<AnalyzeCommand>(exponent.command).start, 0.25);
}

}  // namespace
}  // namespace kv::host
