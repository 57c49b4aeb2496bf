#include "host/program/program.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host/program/analysis_summary.h"
#include "host/program/progress_bar.h"
#include "platform/cryptokit/sha256.h"
#include "tests/program/program_test_support.h"

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
    }
    const ProgramResult wrong = runInProcess({"analyse", "x"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_TRUE(contains(wrong.err, "unknown command 'analyse'")) << wrong.err;
}

TEST_F(ProgramTest, SetChangesValuesThatInfoThenShows) {
    const ProgramResult set =
        runInProcess({"set", "-p", project.string(), "31=2.5", "34=45%", "70=yes", "13=my text", "51=-300"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_TRUE(contains(set.out, "Minimum scale (31) = 2.5")) << set.out;
    EXPECT_TRUE(contains(set.out, "Framing: top (34) = 0.45")) << set.out;
    // The endpoint offsets lift their range: any number is taken.
    EXPECT_TRUE(contains(set.out, "Begin offset X (51) = -300.0")) << set.out;

    const ProgramResult info = runInProcess({"info", "-p", project.string(), "--parameters"});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* line : {"   31  Minimum scale = 2.5\n", "   34  Framing: top = 0.45\n", "   70  Enable = true\n",
                             "   13  Plugin version = \"my text\"\n", "    4  Analysis Data = {}\n"}) {
        EXPECT_TRUE(contains(info.out, line)) << line << " in\n" << info.out;
    }
    EXPECT_TRUE(contains(info.out, "Analysis:   none stored")) << info.out;
}

TEST_F(ProgramTest, ABadAssignmentChangesNothingAndSaysWhy) {
    const std::string before = readBytes(project);
    const std::pair<std::string, std::string> cases[] = {
        {"999=1", "no parameter with the id '999'"},
        {"abc=1", "no parameter with the id 'abc'"},
        {"31", "not of the form ID=VALUE"},
        {"31=20", "The value 20 is outside the range of parameter 31 (Minimum scale), 1.0 to 10.0."},
        {"31=0.5", "outside the range"},
        {"34=101%", "outside the range"},
        {"31=two", "takes a number, not 'two'"},
        {"31=nan", "takes a number"},
        {"21=30%", "takes a number"},  // percent only for percent sliders
        {"70=maybe", "takes true or false, not 'maybe'"},
        {"4=x", "holds no value that can be set by hand"},
        {"10=1", "holds no value that can be set by hand"},
    };
    for (const auto& [assignment, message] : cases) {
        const ProgramResult result = runInProcess({"set", "-p", project.string(), "32=4", assignment});
        EXPECT_EQ(result.status, 1) << assignment;
        EXPECT_TRUE(contains(result.err, message)) << result.err;
        EXPECT_EQ(result.out, "") << assignment;
        EXPECT_EQ(readBytes(project), before) << assignment;
    }
}

TEST_F(ProgramTest, ACorruptedProjectIsRefusedByEveryCommandAndLeftAsItWas) {
    std::string damaged = readBytes(project);
    damaged.resize(damaged.size() * 2 / 3);
    writeBytes(project, damaged);
    const std::vector<std::vector<std::string>> commands{
        {"info", "-p", project.string()},
        {"set", "-p", project.string(), "31=2"},
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
    EXPECT_TRUE(contains(outside.err, "lies outside the clip, which lasts 3.0 s")) << outside.err;
}

TEST_F(ProgramTest, TheSystemLogGoesToTheFileAsked) {
    const std::string log = scratch.file("log.txt").string();
    ASSERT_EQ(runInProcess({"set", "-p", project.string(), "31=2", "--log", log}).status, 0);
    ASSERT_TRUE(std::filesystem::exists(log));
    const ProgramResult unwritable = runInProcess({"info", "-p", project.string(), "--log", scratch.file("no/dir").string()});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(contains(unwritable.err, "cannot write the log file")) << unwritable.err;
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
              "Analysis:   640x480, 3 samples from 0.18672741531911716 s to 0.5601822459573514 s\n"
              "Boxes:      0 to 2 a sample, 1.00 on average\n"
              "Hash:       matches the stored data\n");

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
