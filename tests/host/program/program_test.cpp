#include "host/program/program.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <sstream>

#include "host/program/analysis_summary.h"
#include "host/program/host_session.h"
#include "host/program/progress_bar.h"
#include "host/project_lock.h"
#include "platform/cryptokit/sha256.h"
#include "tests/host/program/program_test_support.h"
#include "tests/support/quiet_spawn.h"

namespace kv::testing {
namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { createProject(project); }

    ScratchDirectory scratch;
    std::filesystem::path project = scratch.file("project.json");
};

TEST_F(ProgramTest, HelpForTheProgramAndEachCommand) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{
             {"--help"}, {"analyze", "--help"}, {"render", "--help"}, {"set", "-h"}, {"info", "--help"}}) {
        const ProgramResult result = runInProcess(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(contains(result.out, "Usage: kestrelvantage-host")) << result.out;
        EXPECT_EQ(result.err, "");
        // One spelling, that of the analyze command.
        for (const char* other : {"analyse", "analysed", "analysing"}) {
            EXPECT_FALSE(contains(result.out, other)) << other;
        }
    }
    const ProgramResult wrong = runInProcess({"analyse", "x"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(contains(wrong.err, "unknown command 'analyse'")) << wrong.err;
}

TEST_F(ProgramTest, SetChangesValuesThatInfoThenShows) {
    const ProgramResult set =
        runInProcess({"set", "-p", project.string(), "31=250", "34=45%", "70=TRUE", "51=-300"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_TRUE(contains(set.out, "Minimum scale (31) = 250.0%")) << set.out;
    EXPECT_TRUE(contains(set.out, "Framing: top (34) = 45.0%")) << set.out;
    // The endpoint offsets lift their range: any number is taken.
    EXPECT_TRUE(contains(set.out, "Begin offset X (51) = -300.0")) << set.out;

    const ProgramResult info = runInProcess({"info", "-p", project.string(), "--parameters"});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* line : {"   31  Minimum scale = 250.0%\n", "   34  Framing: top = 45.0%\n", "   70  Enable = true\n",
                             "   36  Framing: left = 15.0%\n", "   43  Minimum motion = 0.1%\n",
                             "   21  Destination width = 1920.0\n", "    4  Analysis Data = {}\n"}) {
        EXPECT_TRUE(contains(info.out, line)) << line << " in\n" << info.out;
    }
    EXPECT_TRUE(contains(info.out, "Analysis:   none stored")) << info.out;
}

// The value a project stores for a slider, as the effect reads it.
double storedSlider(const std::filesystem::path& project, uint32_t id) {
    auto session = host::HostSession::open(project);
    EXPECT_TRUE(session.ok());
    return session.ok() ? (*session)->document().floatCurve(id)->constant : std::nan("");
}

TEST_F(ProgramTest, EachValueIsTakenAndShownInTheUnitOfItsParameter) {
    // Percent sliders hold fractions and are set and shown in percent.
    const struct {
        std::string assignment;
        std::string shown;
        uint32_t id;
        double stored;
    } cases[] = {
        {"34=30", "Framing: top (34) = 30.0%", 34, 0.3},
        {"34=30%", "Framing: top (34) = 30.0%", 34, 0.3},
        {"36=12.5%", "Framing: left (36) = 12.5%", 36, 0.125},
        {"34=-0%", "Framing: top (34) = 0.0%", 34, 0.0},
        {"31=150", "Minimum scale (31) = 150.0%", 31, 1.5},
        {"77=1e1", "Framing: mix (77) = 10.0%", 77, 0.1},
        {"21=1280.5", "Destination width (21) = 1280.5", 21, 1280.5},
        {"51=-0", "Begin offset X (51) = 0.0", 51, 0.0},
    };
    for (const auto& c : cases) {
        const ProgramResult set = runInProcess({"set", "-p", project.string(), c.assignment});
        ASSERT_EQ(set.status, 0) << c.assignment << ": " << set.err;
        EXPECT_EQ(set.out, c.shown + "\n");
        const double stored = storedSlider(project, c.id);
        EXPECT_EQ(stored, c.stored) << c.assignment;
        EXPECT_FALSE(std::signbit(stored)) << c.assignment << ": -0 is stored as 0";
    }
    for (const char* toggle : {"70=true", "70=FALSE", "70=True"}) {
        EXPECT_EQ(runInProcess({"set", "-p", project.string(), toggle}).status, 0) << toggle;
    }
}

TEST_F(ProgramTest, EveryValueInfoShowsIsTakenBackUnchanged) {
    ASSERT_EQ(runInProcess({"set", "-p", project.string(), "36=0.1%", "91=333.3333%", "22=0.1"}).status, 0);
    const std::string before = readBytes(project);
    const ProgramResult info = runInProcess({"info", "-p", project.string(), "--parameters"});
    // "   34  Framing: top = 30.0%" becomes "34=30.0%", for every slider and toggle.
    std::vector<std::string> assignments{"set", "-p", project.string()};
    std::istringstream lines(info.out.substr(info.out.find("Parameters:")));
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find(" = ");
        if (equals == std::string::npos || line.find_first_of("\"({") != std::string::npos) continue;
        assignments.push_back(std::to_string(std::stoi(line)) + "=" + line.substr(equals + 3));
    }
    ASSERT_GT(assignments.size(), 30u);
    const ProgramResult again = runInProcess(assignments);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readBytes(project), before);
}

TEST_F(ProgramTest, ABadAssignmentChangesNothingAndSaysWhy) {
    const std::string before = readBytes(project);
    const std::pair<std::string, std::string> cases[] = {
        {"999=1", "no parameter with the id '999'"},
        {"abc=1", "no parameter with the id 'abc'"},
        {" 31=200", "no parameter with the id ' 31'"},
        {"0x1f=200", "no parameter with the id '0x1f'"},
        {"+31=200", "no parameter with the id '+31'"},
        {"31", "not of the form ID=VALUE"},
        {"31=20", "The value 20 is outside the range of parameter 31 (Minimum scale), 100.0% to 1000.0%."},
        {"31=2.5", "outside the range"},
        {"34=250%", "The value 250% is outside the range of parameter 34 (Framing: top), 0.0% to 100.0%."},
        {"34=101", "outside the range"},
        {"21=10001", "outside the range of parameter 21 (Destination width), 0.0 to 10000.0."},
        {"31=two", "takes a percentage in decimal, such as 30 or 12.5%, not 'two'"},
        {"31=0x2", "not '0x2'"},
        {"31= 200", "not ' 200'"},
        {"31=200 ", "not '200 '"},
        {"31=nan", "takes a percentage"},
        {"31=inf%", "takes a percentage"},
        {"31=%", "takes a percentage"},
        {"21=0x10", "takes a decimal number, such as 2 or -0.5, not '0x10'"},
        {"21=1,5", "takes a decimal number"},
        {"21=30%", "takes a decimal number"},  // percent only for percent sliders
        {"21=1e999", "takes a decimal number"},
        {"70=maybe", "takes true or false (in any case), not 'maybe'"},
        {"70=yes", "not 'yes'"},
        {"70=on", "not 'on'"},
        {"70=1", "not '1'"},
        {"70=0", "not '0'"},
        {"13=2.0", "Parameter 13 (Plugin version) is display only"},
        {"13=\xff", "is not UTF-8 text"},
        {"4=x", "holds no value that can be set by hand"},
        {"10=1", "holds no value that can be set by hand"},
        {"104=1", "holds no value that can be set by hand"},
    };
    for (const auto& [assignment, message] : cases) {
        const ProgramResult result = runInProcess({"set", "-p", project.string(), "32=400", assignment});
        EXPECT_EQ(result.status, 1) << assignment;
        EXPECT_TRUE(contains(result.err, message)) << result.err;
        EXPECT_EQ(result.out, "") << assignment;
        EXPECT_EQ(readBytes(project), before) << assignment;
    }
}

TEST_F(ProgramTest, SetOnAReadOnlyProjectShowsNoValueAsSetAndLeavesTheFile) {
    const std::string before = readBytes(project);
    std::filesystem::permissions(project, std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                              std::filesystem::perms::others_read);
    const ProgramResult result = runInProcess({"set", "-p", project.string(), "31=200"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, project.string() + " cannot be written: it is read-only")) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(readBytes(project), before);
}

TEST_F(ProgramTest, ACorruptedProjectIsRefusedByEveryCommandAndLeftAsItWas) {
    std::string damaged = readBytes(project);
    damaged.resize(damaged.size() * 2 / 3);
    writeBytes(project, damaged);
    const std::vector<std::vector<std::string>> commands{
        {"info", "-p", project.string()},
        {"set", "-p", project.string(), "31=200"},
        {"analyze", "--synthetic", "-p", project.string()},
    };
    for (const auto& arguments : commands) {
        const ProgramResult result = runInProcess(arguments);
        EXPECT_EQ(result.status, 1) << arguments[0];
        EXPECT_TRUE(contains(result.err, "The project " + project.string() + " cannot be read")) << result.err;
        EXPECT_TRUE(contains(result.err, "it was left as it is")) << result.err;
        EXPECT_EQ(readBytes(project), damaged) << arguments[0];
    }
}

TEST_F(ProgramTest, WhileAnotherProcessWritesTheProjectWritersAreRefusedAndReadersServed) {
    const std::string before = readBytes(project);
    {
        // This test holds the project as a running analysis would.
        auto held = host::ProjectLock::acquire(project, "kestrelvantage-host analyze");
        ASSERT_TRUE(held.ok()) << held.error().message;
        const std::string refusal = "The project " + project.string() + " is being written by process " +
                                    std::to_string(getpid()) + " (kestrelvantage-host analyze); try again when it ends";
        const struct {
            std::vector<std::string> arguments;
            int status;
        } cases[] = {
            {{"set", "-p", project.string(), "31=137"}, 1},
            {{"analyze", "--synthetic", "--duration", "1", "-p", project.string()}, 1},
            {{"info", "-p", project.string()}, 0},
        };
        for (const auto& c : cases) {
            const ProgramResult result = runInProcess(c.arguments);
            EXPECT_EQ(result.status, c.status) << c.arguments[0] << ": " << result.err;
            EXPECT_EQ(contains(result.err, refusal), c.status != 0) << result.err;
            EXPECT_EQ(readBytes(project), before) << c.arguments[0];
        }
        // A writer in another process is refused alike.
        const pid_t other = spawnQuietly(KV_HOST_PROGRAM, {"set", "-p", project.string(), "31=137"});
        ASSERT_GT(other, 0);
        int status = 0;
        ASSERT_EQ(waitpid(other, &status, 0), other);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_EQ(readBytes(project), before);
    }
    // Once the writer has ended, the next one writes.
    EXPECT_EQ(runInProcess({"set", "-p", project.string(), "31=137"}).status, 0);
    EXPECT_NE(readBytes(project), before);
}

TEST_F(ProgramTest, AnUnreadableStoredAnalysisIsNotReplacedByAShorterRun) {
    {
        // One sample's timescale of 0 makes the whole stored analysis unreadable.
        auto session = host::HostSession::openToWrite(project, "test");
        ASSERT_TRUE(session.ok()) << session.error().message;
        const std::string analysis = R"({"iw":320,"ih":180,"mb":[{"t":{"tv":10,"ts":0},"b":[]}]})";
        (*session)->document().setCustomValue(4, NSDictionary{{"AnalysisData", dataFromText(analysis)}});
        ASSERT_TRUE((*session)->project().saveChanges().ok());
    }
    const std::string before = readBytes(project);
    std::vector<std::string> run{"analyze", "--synthetic", "--start", "2", "--duration", "1", "-p", project.string()};
    const ProgramResult refused = runInProcess(run);
    EXPECT_EQ(refused.status, 1);
    for (const std::string& part :
         {"The project " + project.string() + " holds an analysis that cannot be decoded", std::string("timescale"),
          std::string("--fresh to replace its analysis")}) {
        EXPECT_TRUE(contains(refused.err, part)) << refused.err;
    }
    EXPECT_EQ(readBytes(project), before);

    KV_SKIP_UNLESS_EFFECT_ANALYZES();
    run.push_back("--fresh");
    const ProgramResult fresh = runInProcess(run);
    EXPECT_EQ(fresh.status, 0) << fresh.err;
    const auto stored = storedAnalysis(project);
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->analysis.motionBounds.empty());
}

TEST_F(ProgramTest, MissingAndUnreadableFilesAreNamed) {
    const std::string missing = scratch.file("missing.json").string();
    EXPECT_TRUE(contains(runInProcess({"info", "-p", missing}).err, "The project " + missing + " does not exist."));
    EXPECT_TRUE(contains(runInProcess({"set", "-p", missing, "31=2"}).err, "does not exist"));
    EXPECT_FALSE(std::filesystem::exists(missing)) << "only analyze makes a project";

    const std::string noVideo = scratch.file("none.mp4").string();
    const ProgramResult absent = runInProcess({"analyze", noVideo, "-p", scratch.file("new.json").string()});
    EXPECT_EQ(absent.status, 1);
    EXPECT_TRUE(contains(absent.err, "The video file " + noVideo + " does not exist.")) << absent.err;

    writeBytes(scratch.file("text.mp4"), "this is no video");
    const ProgramResult unreadable =
        runInProcess({"analyze", scratch.file("text.mp4").string(), "-p", scratch.file("new.json").string()});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_TRUE(contains(unreadable.err, "is not a video file that can be read")) << unreadable.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.file("new.json"))) << "no project for a video that cannot be read";

    const ProgramResult outside = runInProcess({"analyze", "--synthetic", "-p", project.string(), "--start", "9"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_TRUE(contains(outside.err, "lies outside the clip, which lasts 3.00 s")) << outside.err;
}

// Log lines as the system log writes them: local time with milliseconds,
// the program and this process's id, then the message.
void expectLogLines(const std::string& text) {
    const std::string stamp = "0000-00-00 00:00:00.000 ";  // a 0 stands for any digit
    const std::string program = "Kestrelvantage[" + std::to_string(getpid()) + "] ";
    const auto shaped = [&](const std::string& line) {
        if (line.size() <= stamp.size() + program.size()) return false;
        for (size_t i = 0; i < stamp.size(); ++i) {
            if (stamp[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != stamp[i]) return false;
        }
        return line.compare(stamp.size(), program.size(), program) == 0;
    };
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) EXPECT_TRUE(shaped(line)) << line;
    EXPECT_GT(count, 0) << "no log line";
}

TEST_F(ProgramTest, TheSystemLogGoesToTheFileAsked) {
    const std::string log = scratch.file("log.txt").string();
    ASSERT_EQ(runInProcess({"set", "-p", project.string(), "31=200", "--log", log}).status, 0);
    ASSERT_TRUE(std::filesystem::exists(log));
    expectLogLines(readBytes(log));
    const ProgramResult unwritable = runInProcess({"info", "-p", project.string(), "--log", scratch.file("no/dir").string()});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(contains(unwritable.err, "cannot write the log file")) << unwritable.err;
    // A named pipe no program reads is refused at once, not waited on.
    const std::filesystem::path pipe = scratch.file("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const ProgramResult unread = runInProcess({"info", "-p", project.string(), "--log", pipe.string()});
    EXPECT_EQ(unread.status, 1);
    EXPECT_TRUE(contains(unread.err, pipe.string() + ": it is a named pipe that no program reads")) << unread.err;
}

TEST_F(ProgramTest, VerboseWritesTheSameLinesAsTheLogFile) {
    // This process's standard error, caught in a file for the one command.
    const std::filesystem::path caught = scratch.file("stderr.txt");
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(caught.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    close(file);
    const std::filesystem::path log = scratch.file("log.txt");
    const ProgramResult result =
        runInProcess({"set", "-p", project.string(), "31=200", "--verbose", "--log", log.string()});
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    ASSERT_EQ(result.status, 0) << result.err;
    expectLogLines(readBytes(caught));
    EXPECT_EQ(readBytes(caught), readBytes(log));
}

// Summary of a stored analysis, made by hand.

host::AnalysisSummary summaryOf(const std::string& analysis, const std::string& hash) {
    host::ParameterDocument document;
    for (uint32_t id : {4u, 5u}) {
        host::ParameterDefinition definition;
        definition.kind = host::ParameterKind::custom;
        definition.id = id;
        definition.defaultValue = FxValue(NSDictionary{});
        document.create(definition, false);
    }
    document.setCustomValue(4, NSDictionary{{"AnalysisData", dataFromText(analysis)}});
    document.setCustomValue(5, NSDictionary{{"AnalysisHash", dataFromText(hash)}});
    return host::summarizeAnalysis(document);
}

TEST(AnalysisSummaryTest, DescribesSizeSamplesTimeSpanBoxesAndHash) {
    const std::string box = R"({"minX":0.1,"minY":0.1,"maxX":0.2,"maxY":0.2,"count":3})";
    const std::string analysis = R"({"iw":640,"ih":480,"mb":[{"t":{"tv":5000,"ts":26777},"b":[)" + box + "," + box +
                                 R"(]},{"t":{"tv":10000,"ts":26777},"b":[]},{"t":{"tv":15000,"ts":26777},"b":[)" +
                                 box + "]}]}";
    const auto summary = summaryOf(analysis, SHA256::hash(analysis).description());
    EXPECT_EQ(summary.stored, host::AnalysisSummary::Stored::analysis);
    EXPECT_EQ(summary.samples, 3);
    EXPECT_TRUE(summary.hashMatches);
    EXPECT_EQ(host::summaryText(summary),
              "Analysis:   640x480, 3 samples from 0.19 s to 0.56 s\n"
              "Boxes:      0 to 2 per sample, 1.00 on average\n"
              "Hash:       matches the stored data\n");

    // The boxes a sample holds, as a phrase.
    host::AnalysisSummary same = summary;
    same.samples = 1;
    same.fewestBoxes = same.mostBoxes = 1;
    EXPECT_TRUE(contains(host::summaryText(same), "1 sample at 0.19 s\n")) << host::summaryText(same);
    EXPECT_TRUE(contains(host::summaryText(same), "Boxes:      1 in each sample\n")) << host::summaryText(same);
    same.fewestBoxes = same.mostBoxes = 0;
    EXPECT_TRUE(contains(host::summaryText(same), "Boxes:      none in any sample\n")) << host::summaryText(same);

    EXPECT_FALSE(summaryOf(analysis, "SHA256 digest: 00").hashMatches);
    const auto broken = summaryOf("{\"iw\":1}", "");
    EXPECT_EQ(broken.stored, host::AnalysisSummary::Stored::unreadable);
    EXPECT_TRUE(contains(host::summaryText(broken), "cannot be decoded")) << host::summaryText(broken);
}

TEST(ProgressBarTest, DrawsInPlaceAFewTimesASecondOnlyWhenOn) {
    EXPECT_EQ(host::progressLine("Analyzing", 15, 60, 23.46),
              "Analyzing 15/60 [=======>                      ]  25%   23.5 fps");
    EXPECT_EQ(host::progressLine("Analyzing", 60, 60, 5), "Analyzing 60/60 [==============================] 100%    5.0 fps");
    EXPECT_EQ(host::progressLine("Analyzing", 0, 0, 0), "Analyzing 0/0 [                              ]   0%    0.0 fps");

    auto now = std::chrono::steady_clock::time_point();
    std::ostringstream on;
    host::ProgressBar bar(on, true, "A", [&] { return now; });
    for (int i = 1; i <= 10; ++i) {
        now += std::chrono::milliseconds(30);
        bar.update(i, 10);
    }
    bar.finish();
    const std::string drawn = on.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 5) << "first, every 100 ms, the last, and at the end";
    EXPECT_TRUE(contains(drawn, "10/10")) << drawn;
    EXPECT_EQ(drawn.back(), '\n');

    std::ostringstream off;
    host::ProgressBar quiet(off, false, "A");
    quiet.update(1, 2);
    quiet.finish();
    EXPECT_EQ(off.str(), "");
}

}  // namespace
}  // namespace kv::testing
