// The video a project was made from, as the program keeps it.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/program/host_session.h"
#include "tests/host/program/program_test_support.h"

namespace kv::testing {
namespace {

TEST(ProjectMediaTest, AVideoPathThatIsNotUtf8IsKeptAsItsBytes) {
    KV_SKIP_WITHOUT(footage("cup.mp4"));
    ScratchDirectory scratch;
    const std::filesystem::path video = scratch.file("caf\xe9.mp4");  // Latin-1, a legal name on Linux
    std::filesystem::create_symlink(footage("cup.mp4"), video);
    const auto project = scratch.file("project.json");

    const ProgramResult analysed =
        runInProcess({"analyze", video.string(), "-p", project.string(), "--duration", "0.5"});
    ASSERT_EQ(analysed.status, 0) << analysed.err;
    const auto session = host::HostSession::open(project);
    ASSERT_TRUE(session.ok()) << session.error().message;
    const std::filesystem::path media = (*session)->project().header().media;
    EXPECT_EQ(media, std::filesystem::absolute(video));
    EXPECT_TRUE(std::filesystem::exists(media)) << "the same file opens again";
    EXPECT_EQ(runInProcess({"info", "-p", project.string()}).status, 0);
}

}  // namespace
}  // namespace kv::testing
