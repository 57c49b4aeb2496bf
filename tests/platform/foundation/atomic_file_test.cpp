#include "platform/foundation/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:
    AtomicFileTest() : directory_(fs::temp_directory_path() / ("kv_atomic_file_test_" + std::to_string(getpid()))) {
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    ~AtomicFileTest() override { fs::remove_all(directory_); }

    fs::path at(const std::string& name) const { return directory_ / name; }
    size_t entries() const { return size_t(std::distance(fs::directory_iterator(directory_), {})); }

    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static mode_t modeOf(const fs::path& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0);
        return status.st_mode & 07777;
    }

    fs::path directory_;
};

TEST_F(AtomicFileTest, AReplacedFileKeepsItsLinkAndModeAndAReadOnlyOneIsRefused) {
    const fs::path target = at("target.json");
    ASSERT_TRUE(kv::writeFileAtomically(target, "old").ok());
    fs::create_symlink("target.json", at("link.json"));

    // Through a link: the target is replaced, the link stays a link.
    ASSERT_TRUE(kv::writeFileAtomically(at("link.json"), "new").ok());
    EXPECT_TRUE(fs::is_symlink(at("link.json")));
    EXPECT_EQ(contents(target), "new");

    // The mode stays, whatever the process's umask.
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_TRUE(kv::writeFileAtomically(target, "again").ok());
    EXPECT_EQ(modeOf(target), mode_t(0640));

    // Read-only: refused and unchanged. (A superuser may write any file, so
    // a file without any write bit is refused also then.)
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    const auto refused = kv::writeFileAtomically(at("link.json"), "lost");
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("read-only"), std::string::npos) << refused.error().message;
    EXPECT_EQ(contents(target), "again");
    EXPECT_EQ(modeOf(target), mode_t(0444));
    EXPECT_EQ(entries(), 2u) << "no temporary file is left";
}

TEST_F(AtomicFileTest, TemporariesOfKilledWritersAreRemovedOthersKept) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);  // a process that no longer runs
    const std::string killed = ".project.json.tmp-" + std::to_string(child);
    for (const std::string& name : {killed, killed + "-3", ".project.json.tmp-" + std::to_string(getpid()) + "-0",
                                    std::string(".project.json.tmp-1"), std::string(".other.json.tmp-") +
                                    std::to_string(child), std::string("project.json")}) {
        std::ofstream(at(name)) << "x";
    }
    kv::removeLeftoverTemporaries(at("project.json"));
    EXPECT_FALSE(fs::exists(at(killed)));
    EXPECT_FALSE(fs::exists(at(killed + "-3")));
    EXPECT_TRUE(fs::exists(at(".project.json.tmp-" + std::to_string(getpid()) + "-0"))) << "this process's own";
    EXPECT_TRUE(fs::exists(at(".project.json.tmp-1"))) << "a process that still runs";
    EXPECT_TRUE(fs::exists(at(".other.json.tmp-" + std::to_string(child)))) << "another file's";
    EXPECT_TRUE(fs::exists(at("project.json")));
}

TEST_F(AtomicFileTest, AFileNotCommittedLeavesTheOldOneAndItsTemporariesDifferEachTime) {
    ASSERT_TRUE(kv::writeFileAtomically(at("out"), "old").ok());
    {
        auto first = kv::AtomicFile::open(at("out"));
        auto second = kv::AtomicFile::open(at("out"));
        ASSERT_TRUE(first.ok() && second.ok());
        ASSERT_TRUE(first->write("new").ok());
        std::vector<std::string> temporaries;
        for (const auto& entry : fs::directory_iterator(directory_)) {
            if (entry.path().filename() != "out") temporaries.push_back(entry.path().filename().string());
        }
        ASSERT_EQ(temporaries.size(), 2u);
        EXPECT_NE(temporaries[0], temporaries[1]);
        for (const std::string& name : temporaries) {
            // The writer's id, then 16 random hexadecimal digits.
            const std::string prefix = ".out.tmp-" + std::to_string(getpid()) + "-";
            EXPECT_EQ(name.rfind(prefix, 0), 0u) << name;
            EXPECT_EQ(name.size(), prefix.size() + 16) << name;
        }
    }
    EXPECT_EQ(contents(at("out")), "old");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, AWritePastTheFileSizeLimitFailsAndLeavesTheOldFile) {
    ASSERT_TRUE(kv::writeFileAtomically(at("out"), "old").ok());
    const pid_t child = fork();
    if (child == 0) {
        // As the program runs: the signal ignored, so the write fails instead.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto written = kv::writeFileAtomically(at("out"), std::string(5000, 'x'));
        _exit(!written.ok() && written.error().message.find("File too large") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(contents(at("out")), "old");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, OnlyRegularFilesOfBoundedSizeAreRead) {
    ASSERT_TRUE(kv::writeFileAtomically(at("small"), "12345").ok());
    EXPECT_EQ(kv::readWholeFile(at("small"), 5).value(), "12345");
    const auto large = kv::readWholeFile(at("small"), 4);
    ASSERT_FALSE(large.ok());
    EXPECT_NE(large.error().message.find("larger than 4 bytes"), std::string::npos) << large.error().message;

    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);  // no writer: opening it to read would wait
    const std::pair<fs::path, std::string> refused[] = {
        {"/dev/zero", "not a regular file"},
        {at("fifo"), "not a regular file"},
        {directory_, "is a directory"},
        {at("missing"), "does not exist"},
    };
    for (const auto& [path, why] : refused) {
        const auto read = kv::readWholeFile(path, 1 << 20);
        ASSERT_FALSE(read.ok()) << path;
        EXPECT_NE(read.error().message.find(why), std::string::npos) << read.error().message;
    }
}

}  // namespace
