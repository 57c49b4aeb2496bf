// The container program itself, started as the user starts it, in a window
// on a virtual display: it shows its notice and ends with status 0 when its
// button is pressed or its window is closed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/container_app/child_process.h"
#include "tests/support/display_session.h"
#include "tests/container_app/x_client.h"

namespace kv::testing {
namespace {

const std::filesystem::path kProgram = KV_CONTAINER_PROGRAM;
constexpr double kWaitSeconds = 20;  // a start under the sanitizers is slow

bool waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWaitSeconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Dark pixels of text in the rows [top, bottom).
int darkPixels(const Screenshot& shot, int top, int bottom) {
    int count = 0;
    for (int y = std::max(0, top); y < std::min(bottom, shot.height); ++y) {
        for (int x = 0; x < shot.width; ++x) count += shot.at(x, y).luma() < 100;
    }
    return count;
}

// The window is drawn: a light background, the notice's text in the upper
// half and the button's title in the lowest quarter.
bool noticeDrawn(const Screenshot& shot) {
    return shot.height > 0 && shot.at(2, shot.height - 2).luma() > 200 && darkPixels(shot, 0, shot.height / 2) > 100 &&
           darkPixels(shot, shot.height * 3 / 4, shot.height) > 50;
}

class ContainerProgramTest : public ::testing::Test {
protected:
    void SetUp() override { launch({}); }

    // Starts the program on the virtual display, with `environment` added.
    void launch(std::map<std::string, std::string> environment) {
        const VirtualDisplay& display = virtualDisplay();
        if (display.name.empty()) GTEST_SKIP() << "no X display for window tests (Xvfb cannot start): " << display.whyNot;
        x_ = std::make_unique<XClient>(display.name);
        ASSERT_TRUE(x_->connected());
        environment.merge(std::map<std::string, std::string>{{"DISPLAY", display.name},
                                                             {"WAYLAND_DISPLAY", ""},
                                                             {"GDK_BACKEND", "x11"},
                                                             {"GSK_RENDERER", "cairo"},
                                                             {"GTK_A11Y", "none"}});
        program_ = std::make_unique<ChildProcess>(kProgram, environment);
        ASSERT_TRUE(program_->started());
        ASSERT_TRUE(waitFor([&] { return (window_ = x_->findWindow("Kestrelvantage")).has_value() || !program_->running(); }))
            << "no window appeared";
        ASSERT_TRUE(window_.has_value()) << "the program ended early: " << program_->standardError();
        ASSERT_TRUE(waitFor([&] { return noticeDrawn(shot_ = x_->capture(*window_)); })) << "the notice was not drawn";
    }

    // Presses the button: the lowest thing drawn in the middle column. Its
    // bottom edge is found from below, and the press lands a little above it.
    void pressTheButton() {
        const Pixel background = shot_.at(2, shot_.height - 2);
        int buttonBottom = shot_.height - 1;
        while (buttonBottom > 0 && shot_.at(shot_.width / 2, buttonBottom) == background) --buttonBottom;
        ASSERT_GT(buttonBottom, shot_.height * 3 / 4);
        EXPECT_TRUE(program_->running());
        x_->click(*window_, shot_.width / 2, buttonBottom - 10);
    }

    void expectEndsWithTheLogLine() {
        EXPECT_EQ(program_->waitForExit(kWaitSeconds), 0) << program_->standardError();
        EXPECT_NE(program_->standardError().find("] Wrapper application closed.\n"), std::string::npos)
            << program_->standardError();
    }

    std::unique_ptr<XClient> x_;
    std::unique_ptr<ChildProcess> program_;
    std::optional<Window> window_;
    Screenshot shot_;
};

TEST_F(ContainerProgramTest, ShowsTheNoticeAndEndsWhenItsButtonIsPressed) {
    shot_.save(std::filesystem::path(KV_TEST_OUTPUT_DIR) / "container-window.ppm");
    EXPECT_EQ(shot_.width, 400);
    EXPECT_EQ(shot_.height, 200);
    EXPECT_EQ(x_->title(*window_), "Kestrelvantage");
    EXPECT_EQ(x_->wmClass(*window_), "Kestrelvantage/Kestrelvantage");
    pressTheButton();
    expectEndsWithTheLogLine();
}

// The program with a 16-point system font, as the user's desktop settings give it.
class ContainerProgramLargeFontTest : public ContainerProgramTest {
protected:
    void SetUp() override {
        const std::filesystem::path config = std::filesystem::path(KV_TEST_OUTPUT_DIR) / "large-font-config";
        std::filesystem::create_directories(config / "gtk-4.0");
        std::ofstream(config / "gtk-4.0" / "settings.ini") << "[Settings]\ngtk-font-name=Sans 16\n";
        launch({{"XDG_CONFIG_HOME", config.string()}});
    }
};

TEST_F(ContainerProgramLargeFontTest, TheWindowGrowsToShowTheNoticeAndTheButtonWhole) {
    shot_.save(std::filesystem::path(KV_TEST_OUTPUT_DIR) / "container-window-large-font.ppm");
    EXPECT_GE(shot_.width, 400);
    EXPECT_GT(shot_.height, 200);
    // Nothing is cut off at the window's edges: they show the background alone.
    const Pixel background = shot_.at(2, shot_.height - 2);
    int drawnOnEdges = 0;
    const auto drawn = [&](int x, int y) { return int(!(shot_.at(x, y) == background)); };
    for (int x = 0; x < shot_.width; ++x) drawnOnEdges += drawn(x, 0) + drawn(x, shot_.height - 1);
    for (int y = 0; y < shot_.height; ++y) drawnOnEdges += drawn(0, y) + drawn(shot_.width - 1, y);
    EXPECT_EQ(drawnOnEdges, 0);
    pressTheButton();
    expectEndsWithTheLogLine();
}

TEST_F(ContainerProgramTest, EndsWhenItsWindowIsClosed) {
    x_->requestClose(*window_);
    expectEndsWithTheLogLine();
}

TEST(ContainerProgramStartTest, WithoutADisplayItSaysSoAndFails) {
    ChildProcess program(kProgram, {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"GDK_BACKEND", "x11"}});
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.waitForExit(kWaitSeconds), 1);
    EXPECT_NE(program.standardError().find("cannot open a display"), std::string::npos) << program.standardError();
}

TEST(ContainerProgramStartTest, BundleCarriesTheEffectService) {
    const auto service = kProgram.parent_path().parent_path() / "PlugIns" / "Kestrelvantage_XPC_Service";
    struct stat info{};
    ASSERT_EQ(stat(service.c_str(), &info), 0) << service;
    EXPECT_TRUE(info.st_mode & S_IXUSR);
}

}  // namespace
}  // namespace kv::testing
