#include "host/project_file.h"
#include "host/project_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/atomic_file.h"
#include "host/base64.h"
#include "platform/foundation/log.h"

namespace kv::host {
namespace {

ParameterDefinition of(ParameterKind kind, uint32_t id, DefaultValue value = {}) {
    ParameterDefinition definition;
    definition.kind = kind;
    definition.id = id;
    definition.name = "p" + std::to_string(id);
    definition.defaultValue = std::move(value);
    return definition;
}

// A document with one parameter of every kind that holds a value, plus a
// group and a button, which hold none.
void addParameters(ParameterDocument& document) {
    document.create(of(ParameterKind::groupStart, 102), false);
    document.create(of(ParameterKind::pushButton, 10), false);
    document.create(of(ParameterKind::groupEnd, 0), false);
    document.create(of(ParameterKind::custom, 4, FxValue(NSDictionary{})), false);
    document.create(of(ParameterKind::percentSlider, 31, 1.0), false);
    document.create(of(ParameterKind::floatSlider, 21, 1920.0), false);
    document.create(of(ParameterKind::toggle, 70, false), false);
    document.create(of(ParameterKind::string, 13, std::string("1.0")), false);
}

ProjectHeader header() {
    ProjectHeader h;
    h.effectClass = "TestEffect";
    h.media = "/videos/clip.mp4";
    h.timing = EffectTiming{CMTimeMake(512, 10240), CMTimeMake(30720, 10240), 20, 1, CMTimeMake(512, 10240)};
    return h;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ScratchFile {
public:
    ScratchFile() {
        static std::atomic<int> counter{0};
        directory_ = std::filesystem::temp_directory_path() /
                     ("kv_project_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
        std::filesystem::create_directories(directory_);
    }
    ~ScratchFile() { std::filesystem::remove_all(directory_); }
    std::filesystem::path path() const { return directory_ / "project.json"; }
    const std::filesystem::path& directory() const { return directory_; }

private:
    std::filesystem::path directory_;
};

TEST(Base64Test, CodesDataBothWaysAndRefusesWhatIsNotStrictBase64) {
    for (const std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
        const NSData data = dataFromText(text);
        const std::string coded = base64Encode(data);
        EXPECT_EQ(coded.size() % 4, 0u);
        EXPECT_EQ(base64Decode(coded), data) << text;
    }
    EXPECT_EQ(base64Encode(dataFromText("foobar")), "Zm9vYmFy");
    EXPECT_EQ(base64Decode("Zm8="), dataFromText("fo"));
    for (const char* bad : {"Zm8", "Zm8=Zm8=", "Z===", "Zm9v YmFy", "Zm9v\nYmFy", "Zm9-", "===="}) {
        EXPECT_FALSE(base64Decode(bad)) << bad;
    }
    const NSData everyByte = [] {
        NSData d(256);
        for (size_t i = 0; i < d.size(); ++i) d[i] = uint8_t(i);
        return d;
    }();
    EXPECT_EQ(base64Decode(base64Encode(everyByte)), everyByte);
}

TEST(ProjectFileTest, EveryValueComesBackExactlyAsItWasStored) {
    ParameterDocument stored;
    addParameters(stored);
    const NSDictionary inner{{"n", NSNumber::integer(-7)}, {"z", FxValue()}};
    stored.setCustomValue(4, NSDictionary{{"AnalysisData", dataFromText(std::string("{\"iw\":1}\0\xff", 10))},
                                          {"flag", NSNumber::boolean(true)},
                                          {"real", NSNumber::real(5.0)},
                                          {"text", std::string("caf\xc3\xa9")},
                                          {"inner", inner}});
    stored.setFloatValue(31, 0.1 + 0.2);  // not a short decimal: must come back to the bit
    stored.setFloatKeyframe(21, CMTimeMake(1, 3), 640.5);
    stored.setFloatKeyframe(21, CMTimeMake(2, 1), 1e-300);
    stored.setBoolKeyframe(70, CMTimeMake(10, 30), true);
    stored.setStringValue(13, "line\nbreak \"quoted\"");

    const auto text = encodeProject(header(), stored);
    ASSERT_TRUE(text.ok()) << text.error().message;
    EXPECT_NE(text->find("\"NSData\""), std::string::npos);
    EXPECT_EQ(text->find("\"id\": 10"), std::string::npos) << "buttons hold no value";

    ParameterDocument restored;
    addParameters(restored);
    const auto read = restoreProject(*text, "TestEffect", restored);
    ASSERT_TRUE(read.ok()) << read.error().message;
    EXPECT_EQ(*read, header());
    EXPECT_EQ(restored.customValue(4), stored.customValue(4));
    EXPECT_EQ(restored.floatValue(31, kCMTimeZero), 0.1 + 0.2);
    const auto keys = restored.floatCurve(21);
    ASSERT_TRUE(keys);
    ASSERT_EQ(keys->keys.size(), 2u);
    EXPECT_EQ(keys->keys.begin()->first, CMTimeMake(1, 3));
    EXPECT_EQ(keys->keys.rbegin()->second, 1e-300);
    EXPECT_EQ(restored.boolValue(70, CMTimeMake(1, 1)), true);
    EXPECT_EQ(restored.boolValue(70, kCMTimeZero), true);  // held before the first key too
    EXPECT_EQ(restored.boolCurve(70)->keys.size(), 1u);
    EXPECT_EQ(restored.stringValue(13), "line\nbreak \"quoted\"");
    EXPECT_EQ(encodeProject(header(), restored).value(), *text);
}

TEST(ProjectFileTest, AProjectThatCannotBeReadChangesNothing) {
    ParameterDocument stored;
    addParameters(stored);
    stored.setFloatValue(31, 2.0);
    const std::string good = encodeProject(header(), stored).value();
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const std::pair<std::string, std::string> cases[] = {
        {"", "not JSON"},
        {good.substr(0, good.size() / 2), "JSON"},
        {"[]", "project"},
        {replaced("Kestrelvantage host project", "something else"), "not a project"},
        {replaced("\"version\": 1", "\"version\": 2"), "version 2"},
        {replaced("TestEffect", "OtherEffect"), "OtherEffect"},
        {replaced("\"kind\": \"percentSlider\"", "\"kind\": \"toggle\""), "kind"},
        {replaced("\"value\": 2.0", "\"value\": \"2\""), "value"},
        {replaced("\"value\": 2.0", "\"value\": null"), "value"},
        {replaced("\"NSDictionary\": {}", "\"NSData\": \"a!==\""), "value"},
        {replaced("\"NSDictionary\": {}", "\"NSWindow\": {}"), "value"},
        {replaced("\"ts\": 10240", "\"ts\": 0"), "ts"},
        {replaced("\"keys\": []", "\"keys\": {}"), "keys"},
        {replaced("\"ts\": 10240", "\"ts\": 10240.5"), "ts"},
        {replaced("\"tv\": 512", "\"tv\": -9223372036854775809"), "tv"},
        {replaced("\"version\": 1", "\"version\": -9223372036854775809"), "version"},
        {good + std::string("\0{\"format\"", 11), "NUL"},
        {good + "}", "trailing"},
    };
    for (const auto& [text, why] : cases) {
        ParameterDocument document;
        addParameters(document);
        const auto read = restoreProject(text, "TestEffect", document);
        ASSERT_FALSE(read.ok()) << why;
        EXPECT_EQ(document.floatValue(31, kCMTimeZero), 1.0) << why;
    }
}

TEST(ProjectFileTest, AMediaPathIsKeptAsItsBytesAndOtherTextMustBeUtf8) {
    ParameterDocument document;
    addParameters(document);
    ProjectHeader latin1 = header();
    latin1.media = "/videos/caf\xe9.mp4";  // a legal path on Linux
    const auto text = encodeProject(latin1, document);
    ASSERT_TRUE(text.ok()) << text.error().message;
    ParameterDocument restored;
    addParameters(restored);
    EXPECT_EQ(restoreProject(*text, "TestEffect", restored).value().media, latin1.media);
    // A reader that knows only "media" still finds a text there.
    EXPECT_EQ(nlohmann::json::parse(*text)["media"], "/videos/caf\xef\xbf\xbd.mp4");
    EXPECT_NE(text->find("\"mediaBytes\""), std::string::npos);
    EXPECT_EQ(encodeProject(header(), document).value().find("mediaBytes"), std::string::npos);

    document.setStringValue(13, "caf\xe9");
    const auto refused = encodeProject(header(), document);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("not UTF-8"), std::string::npos) << refused.error().message;
    document.setStringValue(13, "1.0");
    document.setCustomValue(4, NSDictionary{{"key\xff", FxValue(std::string("text"))}});
    EXPECT_FALSE(encodeProject(header(), document).ok());
    document.setCustomValue(4, NSDictionary{{"key", FxValue(std::string("text\xff"))}});
    EXPECT_FALSE(encodeProject(header(), document).ok());
}

TEST(ProjectFileTest, ValuesOfParametersTheEffectNoLongerHasArePassedOver) {
    ParameterDocument stored;
    addParameters(stored);
    stored.create(of(ParameterKind::floatSlider, 99, 5.0), false);
    stored.setFloatValue(31, 3.0);
    ParameterDocument restored;
    addParameters(restored);
    LogCapture log;
    ASSERT_TRUE(restoreProject(encodeProject(header(), stored).value(), "TestEffect", restored).ok());
    EXPECT_EQ(log.count("parameter 99"), 1u);
    EXPECT_EQ(restored.floatValue(31, kCMTimeZero), 3.0);
}

TEST(ProjectFileTest, SavesWhenAValueChangedAndOpensWhatItSaved) {
    ScratchFile scratch;
    ParameterDocument document;
    addParameters(document);
    auto created = ProjectFile::create(scratch.path(), header(), document);
    ASSERT_TRUE(created.ok()) << created.error().message;
    ProjectFile& project = **created;
    const std::string first = readFile(scratch.path());
    ASSERT_TRUE(project.saveChanges().ok());
    EXPECT_EQ(readFile(scratch.path()), first);

    document.setCustomValue(4, NSDictionary{{"AnalysisHash", dataFromText("h")}});
    document.setStringValue(404, "no such parameter: no change");
    ASSERT_TRUE(project.saveChanges().ok());
    EXPECT_NE(readFile(scratch.path()), first);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.directory()), {}), 1)
        << "no temporary file is left";

    EXPECT_FALSE(ProjectFile::create(scratch.path(), header(), document).ok());
    ParameterDocument reopened;
    addParameters(reopened);
    auto opened = ProjectFile::open(scratch.path(), "TestEffect", reopened);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    EXPECT_EQ((*opened)->header(), header());
    EXPECT_EQ(reopened.customValue(4), document.customValue(4));
}

TEST(ProjectFileTest, AnUnreadableProjectIsRefusedAndLeftByteForByte) {
    ScratchFile scratch;
    ParameterDocument document;
    addParameters(document);
    const std::string damaged = "{\"format\": \"Kestrelvantage host project\", \"version\": 1, \"effe";
    ASSERT_TRUE(writeFileAtomically(scratch.path(), damaged).ok());
    const auto opened = ProjectFile::open(scratch.path(), "TestEffect", document);
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().message.find("cannot be read"), std::string::npos) << opened.error().message;
    EXPECT_NE(opened.error().message.find(scratch.path().string()), std::string::npos);
    EXPECT_EQ(readFile(scratch.path()), damaged);
    EXPECT_FALSE(ProjectFile::create(scratch.path(), header(), document).ok());
    EXPECT_EQ(readFile(scratch.path()), damaged);

    const auto missing = ProjectFile::open(scratch.directory() / "missing.json", "TestEffect", document);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("does not exist"), std::string::npos);
    const auto device = ProjectFile::open("/dev/zero", "TestEffect", document);  // endless: never read
    ASSERT_FALSE(device.ok());
    EXPECT_NE(device.error().message.find("not a regular file"), std::string::npos) << device.error().message;
}

TEST(ProjectFileTest, OpeningRemovesWhatAKilledSaveLeftAndSavingKeepsTheLinkAndMode) {
    ScratchFile scratch;
    ParameterDocument document;
    addParameters(document);
    const std::filesystem::path target = scratch.directory() / "target.json";
    ASSERT_TRUE(ProjectFile::create(target, header(), document).ok());
    std::filesystem::create_symlink("target.json", scratch.path());
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const auto leftover = scratch.directory() / (".target.json.tmp-" + std::to_string(child) + "-0");
    std::ofstream(leftover) << "{\"format\": ";

    auto opened = ProjectFile::open(scratch.path(), "TestEffect", document);
    ASSERT_TRUE(opened.ok()) << opened.error().message;
    EXPECT_FALSE(std::filesystem::exists(leftover));
    document.setFloatValue(31, 2.0);
    ASSERT_TRUE((*opened)->saveChanges().ok());
    EXPECT_TRUE(std::filesystem::is_symlink(scratch.path()));
    EXPECT_NE(readFile(target).find("\"value\": 2.0"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(target).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    document.setFloatValue(31, 3.0);
    const auto refused = (*opened)->saveChanges();
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("read-only"), std::string::npos) << refused.error().message;
    EXPECT_NE(readFile(target).find("\"value\": 2.0"), std::string::npos);
}

// Saved at once or in the background: a save that cannot be written says
// so (the background one when it is waited for) and its changes are saved
// again next time.
TEST(ProjectFileTest, ASaveThatCannotBeWrittenSaysSoAndTriesAgainLater) {
    for (const bool background : {false, true}) {
        SCOPED_TRACE(background ? "in the background" : "at once");
        ScratchFile scratch;
        ParameterDocument document;
        addParameters(document);
        auto created = ProjectFile::create(scratch.path(), header(), document);
        ASSERT_TRUE(created.ok());
        ProjectFile& project = **created;
        const auto save = [&] {
            if (!background) return project.saveChanges();
            if (auto started = project.saveChangesInBackground(); !started) return started;
            return project.finishSaving();
        };
        document.setFloatValue(31, 2.0);
        std::filesystem::remove_all(scratch.directory());
        const auto failed = save();
        ASSERT_FALSE(failed.ok());
        EXPECT_NE(failed.error().message.find("Could not save the project"), std::string::npos);
        std::filesystem::create_directories(scratch.directory());
        ASSERT_TRUE(save().ok());
        EXPECT_NE(readFile(scratch.path()).find("\"value\": 2.0"), std::string::npos);
    }
}

TEST(ProjectFileTest, ANumberThatIsNotFiniteIsNotSaved) {
    ParameterDocument document;
    addParameters(document);
    document.setFloatValue(21, std::numeric_limits<double>::infinity());
    EXPECT_FALSE(encodeProject(header(), document).ok());
}

// The lock of one project, which writers hold one at a time.

TEST(ProjectLockTest, OneHolderAtATimeUnderEveryNameOfTheProject) {
    ScratchFile scratch;
    std::ofstream(scratch.path()) << "{}";
    const auto link = scratch.directory() / "link.json";
    std::filesystem::create_symlink("project.json", link);
    const auto lockFile = scratch.directory() / ".project.json.lock";
    {
        auto held = ProjectLock::acquire(scratch.path(), "kestrelvantage-host analyze");
        ASSERT_TRUE(held.ok()) << held.error().message;
        EXPECT_EQ(ProjectLock::lockFileOf(link), lockFile);
        const auto refused = ProjectLock::acquire(link, "kestrelvantage-host set");
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().message, "The project " + link.string() + " is being written by process " +
                                               std::to_string(getpid()) +
                                               " (kestrelvantage-host analyze); try again when it ends. It was "
                                               "left as it is.");
    }
    // Released with its record cleared; the lock file stays for the next holder.
    EXPECT_EQ(std::filesystem::file_size(lockFile), 0u);
    EXPECT_TRUE(ProjectLock::acquire(scratch.path(), "kestrelvantage-host set").ok());
}

TEST(ProjectLockTest, ALockFileThatIsNotAPlainFileIsRefusedAndNamed) {
    ScratchFile scratch;
    std::ofstream(scratch.path()) << "{}";
    const auto lockFile = scratch.directory() / ".project.json.lock";
    const struct {
        const char* what;
        void (*make)(const std::filesystem::path&);
        const char* reason;
    } cases[] = {
        {"link", [](const std::filesystem::path& p) { std::filesystem::create_symlink("project.json", p); },
         "a symbolic link"},
        {"directory", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); }, "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(lockFile);
        c.make(lockFile);
        const auto refused = ProjectLock::acquire(scratch.path(), "kestrelvantage-host set");
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().message, "Cannot lock the project " + scratch.path().string() + " for writing (" +
                                               lockFile.string() + ": " + c.reason + "); it was left as it is.");
        EXPECT_EQ(readFile(scratch.path()), "{}");
    }
}

TEST(ProjectLockTest, ALockFileThatCannotBeMadeSaysWhy) {
    ScratchFile scratch;
    std::ofstream(scratch.path()) << "{}";
    const auto elsewhere = scratch.directory() / "gone" / "project.json";
    const auto missing = ProjectLock::acquire(elsewhere, "kestrelvantage-host analyze");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().message, "The project " + elsewhere.string() + " cannot be written: the folder " +
                                           std::filesystem::weakly_canonical(elsewhere.parent_path()).string() +
                                           " does not exist.");

    // A folder this user may not add to: the permission is the reason given.
    ASSERT_EQ(::chmod(scratch.directory().c_str(), 0555), 0);
    const pid_t child = fork();
    if (child == 0) {
        // The superuser could make it all the same: the check runs as nobody.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        const auto refused = ProjectLock::acquire(scratch.path(), "kestrelvantage-host set");
        _exit(!refused.ok() && refused.error().message.find("Permission denied") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ::chmod(scratch.directory().c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace kv::host
