// The container program's delegate and main interface in this process, in
// real windows on a virtual display.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container_app/app_delegate.h"
#include "container_app/main_interface.h"
#include "platform/foundation/log.h"
#include "tests/support/display_session.h"

namespace kv {
namespace {

using ::testing::ElementsAre;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result(1);
    for (char c : text) {
        if (c == '\n') {
            result.emplace_back();
        } else {
            result.back() += c;
        }
    }
    return result;
}

TEST(ContainerNoticeTest, HoldsEightLinesWithTheIndentedHeading) {
    const AppDelegate delegate;
    EXPECT_EQ(delegate.msgReady().size(), 194u);
    EXPECT_THAT(lines(delegate.msgReady()),
                ElementsAre(std::string(27, ' ') + "**IMPORTANT**", "Please remember to also install the Motion Template!",
                            "", "Without it, FCP won't recognize the plugin.", "",
                            "Otherwise, it is OK to close this window now.", "", "Thanks!"));
    EXPECT_EQ(delegate.window(), nullptr);
    EXPECT_EQ(delegate.containerView(), nullptr);
    EXPECT_EQ(delegate.msgLabel(), nullptr);
    EXPECT_EQ(delegate.okButton(), nullptr);
    EXPECT_EQ(delegate.myDebugThread(), nullptr);
}

// The application with the program's main interface loaded; unloaded at the end.
class ContainerAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        KV_SKIP_WITHOUT_DISPLAY();
        application_ = NSApplication::sharedApplication();
    }
    void TearDown() override {
        if (application_ != nullptr) application_->unloadMainInterface();
    }

    std::shared_ptr<AppDelegate> loadProgramInterface() {
        application_->loadMainInterface(loadMainInterface);
        return std::dynamic_pointer_cast<AppDelegate>(application_->delegate());
    }

    // Runs the application; `whileRunning` is called once the loop runs.
    // Returns false when the application did not end within the time given.
    bool runApplication(std::function<void()> whileRunning) {
        bool ended = false;
        struct Step {
            std::function<void()> action;
        };
        auto* step = new Step{std::move(whileRunning)};
        g_idle_add_full(
            G_PRIORITY_DEFAULT_IDLE,
            [](gpointer data) {
                static_cast<Step*>(data)->action();
                return G_SOURCE_REMOVE;
            },
            step, [](gpointer data) { delete static_cast<Step*>(data); });
        // A test that does not end the application is stopped after a while.
        const guint watchdog = g_timeout_add_seconds(
            10,
            [](gpointer flag) {
                *static_cast<bool*>(flag) = true;
                NSApplication::sharedApplication()->terminate(nullptr);
                return G_SOURCE_REMOVE;
            },
            &ended);
        application_->run();
        const bool stoppedByWatchdog = ended;
        if (!stoppedByWatchdog) g_source_remove(watchdog);
        return !stoppedByWatchdog;
    }

    // The program's interface loaded, its notice shown and laid out.
    struct ShownNotice {
        std::shared_ptr<AppDelegate> delegate;
        GtkWidget* window;
        GtkWidget* stack;
        GtkWidget* label;
        GtkWidget* button;
    };
    ShownNotice showNotice() {
        const auto delegate = loadProgramInterface();
        delegate->setUpMessageWindow();
        ShownNotice shown{delegate, GTK_WIDGET(delegate->window()->gtkWindow()), delegate->containerView()->widget(),
                          delegate->msgLabel()->widget(), delegate->okButton()->widget()};
        testing::spinEventsUntil(
            [&] { return gtk_widget_get_mapped(shown.button) && gtk_widget_get_height(shown.button) > 0; });
        return shown;
    }

    std::shared_ptr<NSApplication> application_;
};

TEST_F(ContainerAppTest, LaunchShowsTheNoticeAboveTheButtonInTheTitledWindow) {
    const auto delegate = loadProgramInterface();
    ASSERT_NE(delegate, nullptr);
    ASSERT_NE(delegate->window(), nullptr);
    NSNotification launched(NSApplicationDidFinishLaunchingNotification, application_);
    delegate->applicationDidFinishLaunching(&launched);

    const auto& window = delegate->window();
    EXPECT_EQ(window->title(), "Kestrelvantage");
    EXPECT_EQ(gtk_window_get_title(window->gtkWindow()), std::string("Kestrelvantage"));
    const auto& stack = delegate->containerView();
    ASSERT_THAT(window->contentView()->subviews(), ElementsAre(stack));
    EXPECT_EQ(stack->frame(), NSMakeRect(0, 0, 400, 200));
    EXPECT_EQ(stack->orientation(), NSUserInterfaceLayoutOrientationVertical);
    EXPECT_EQ(stack->autoresizingMask(), 45u);
    EXPECT_EQ(stack->layer(), nullptr);
    EXPECT_THAT(stack->viewsInGravity(NSStackViewGravityCenter), ElementsAre(delegate->msgLabel(), delegate->okButton()));
    EXPECT_TRUE(stack->viewsInGravity(NSStackViewGravityTop).empty());
    EXPECT_TRUE(stack->viewsInGravity(NSStackViewGravityBottom).empty());

    const auto& label = delegate->msgLabel();
    EXPECT_EQ(label->stringValue(), delegate->msgReady());
    EXPECT_FALSE(label->drawsBackground());
    EXPECT_FALSE(label->isEditable());
    EXPECT_FALSE(label->isBezeled());

    const auto& button = delegate->okButton();
    EXPECT_EQ(button->title(), "OK - Close This Window");
    EXPECT_EQ(button->target(), delegate);
    EXPECT_EQ(button->action().name(), "okClicked:");
    const auto closeButton = window->standardWindowButton(NSWindowCloseButton);
    ASSERT_NE(closeButton, nullptr);
    EXPECT_EQ(closeButton->target(), delegate);
    EXPECT_EQ(closeButton->action().name(), "okClicked:");

    // The thread started at launch ends at once.
    ASSERT_NE(delegate->myDebugThread(), nullptr);
    EXPECT_TRUE(testing::spinEventsUntil([&] { return delegate->myDebugThread()->isFinished(); }));
}

TEST_F(ContainerAppTest, ShownNoticeIsCentredAboveTheButtonAndFillsTheWindow) {
    const auto [delegate, window, stack, label, button] = showNotice();
    ASSERT_TRUE(gtk_widget_get_mapped(button) && gtk_widget_get_height(button) > 0);

    graphene_rect_t stackBounds, labelBounds, buttonBounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(stack, window, &stackBounds));
    ASSERT_TRUE(gtk_widget_compute_bounds(label, window, &labelBounds));
    ASSERT_TRUE(gtk_widget_compute_bounds(button, window, &buttonBounds));
    EXPECT_EQ(gtk_widget_get_width(window), 400);
    EXPECT_EQ(gtk_widget_get_height(window), 200);
    EXPECT_FLOAT_EQ(stackBounds.origin.x, 0);
    EXPECT_FLOAT_EQ(stackBounds.origin.y, 0);
    EXPECT_FLOAT_EQ(stackBounds.size.width, 400);
    EXPECT_FLOAT_EQ(stackBounds.size.height, 200);
    // Centred across, the label one spacing above the button, the pair centred along.
    EXPECT_NEAR(labelBounds.origin.x + labelBounds.size.width / 2, 200, 1);
    EXPECT_NEAR(buttonBounds.origin.x + buttonBounds.size.width / 2, 200, 1);
    EXPECT_FLOAT_EQ(buttonBounds.origin.y, labelBounds.origin.y + labelBounds.size.height + 8);
    const float below = 200 - (buttonBounds.origin.y + buttonBounds.size.height);
    EXPECT_NEAR(labelBounds.origin.y, below, 1);
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(gtk_widget_get_first_child(label))), delegate->msgReady());

    // A larger window: the notice keeps its size and floats in the middle.
    gtk_window_set_default_size(delegate->window()->gtkWindow(), 600, 400);
    ASSERT_TRUE(testing::spinEventsUntil([&] { return gtk_widget_get_height(window) == 400; }));
    ASSERT_TRUE(testing::spinEventsUntil([&] {
        return gtk_widget_compute_bounds(stack, window, &stackBounds) && stackBounds.origin.x == 100;
    }));
    EXPECT_EQ(delegate->containerView()->frame(), NSMakeRect(100, 100, 400, 200));
    EXPECT_FLOAT_EQ(stackBounds.origin.y, 100);
    EXPECT_FLOAT_EQ(stackBounds.size.width, 400);
    EXPECT_FLOAT_EQ(stackBounds.size.height, 200);
}

// The system font at a size while it lives.
class SystemFont {
public:
    explicit SystemFont(const char* font) {
        g_object_get(gtk_settings_get_default(), "gtk-font-name", &previous_, nullptr);
        g_object_set(gtk_settings_get_default(), "gtk-font-name", font, nullptr);
    }
    ~SystemFont() {
        g_object_set(gtk_settings_get_default(), "gtk-font-name", previous_, nullptr);
        g_free(previous_);
    }

private:
    gchar* previous_ = nullptr;
};

bool inside(const graphene_rect_t& inner, const graphene_rect_t& outer) {
    return graphene_rect_contains_rect(&outer, &inner);
}

TEST_F(ContainerAppTest, AtALargeFontTheStackAndTheWindowGrowToShowTheNoticeAndTheButtonWhole) {
    const SystemFont large("Sans 16");
    const auto [delegate, window, stack, label, button] = showNotice();
    ASSERT_TRUE(gtk_widget_get_mapped(button) && gtk_widget_get_height(button) > 0);

    // What the label's text needs at this font, measured by the toolkit alone.
    int textWidth = 0, textHeight = 0;
    GtkWidget* text = gtk_widget_get_first_child(label);
    gtk_widget_measure(text, GTK_ORIENTATION_HORIZONTAL, -1, nullptr, &textWidth, nullptr, nullptr);
    gtk_widget_measure(text, GTK_ORIENTATION_VERTICAL, textWidth, nullptr, &textHeight, nullptr, nullptr);
    ASSERT_GT(textHeight, 200) << "the font is not large enough for this test";

    const auto expectWhole = [&](int width, int height) {
        graphene_rect_t windowBounds{{0, 0}, {float(width), float(height)}}, stackBounds, labelBounds, buttonBounds;
        ASSERT_TRUE(gtk_widget_compute_bounds(stack, window, &stackBounds));
        ASSERT_TRUE(gtk_widget_compute_bounds(label, window, &labelBounds));
        ASSERT_TRUE(gtk_widget_compute_bounds(button, window, &buttonBounds));
        EXPECT_GE(labelBounds.size.width, textWidth);
        EXPECT_GE(labelBounds.size.height, textHeight);
        EXPECT_TRUE(inside(labelBounds, stackBounds));
        EXPECT_TRUE(inside(buttonBounds, stackBounds));
        EXPECT_TRUE(inside(stackBounds, windowBounds));
        EXPECT_GE(stackBounds.size.width, 400);
        // Centred in the window, the label above the button.
        EXPECT_NEAR(stackBounds.origin.x + stackBounds.size.width / 2, width / 2.0, 1);
        EXPECT_NEAR(stackBounds.origin.y + stackBounds.size.height / 2, height / 2.0, 1);
        EXPECT_NEAR(labelBounds.origin.x + labelBounds.size.width / 2, width / 2.0, 1);
        EXPECT_LT(labelBounds.origin.y + labelBounds.size.height, buttonBounds.origin.y);
    };
    const int width = gtk_widget_get_width(window);
    const int height = gtk_widget_get_height(window);
    EXPECT_GT(height, 200);
    expectWhole(width, height);

    // Larger still: the stack keeps its size and floats in the middle.
    gtk_window_set_default_size(delegate->window()->gtkWindow(), width + 200, height + 100);
    ASSERT_TRUE(testing::spinEventsUntil([&] {
        graphene_rect_t stackBounds;
        return gtk_widget_get_height(window) == height + 100 && gtk_widget_compute_bounds(stack, window, &stackBounds) &&
               stackBounds.origin.x >= 100;
    }));
    expectWhole(width + 200, height + 100);
}

TEST_F(ContainerAppTest, TheButtonLogsAndEndsTheApplication) {
    const auto delegate = loadProgramInterface();
    LogCapture log;
    EXPECT_TRUE(runApplication([&] { delegate->okButton()->performClick(); }));
    EXPECT_THAT(log.lines(), ElementsAre("Wrapper application closed."));
}

TEST_F(ContainerAppTest, ClosingTheWindowLogsAndEndsTheApplication) {
    const auto delegate = loadProgramInterface();
    LogCapture log;
    // As the window manager asks when the user presses the window's close button.
    EXPECT_TRUE(runApplication([&] { gtk_window_close(delegate->window()->gtkWindow()); }));
    EXPECT_THAT(log.lines(), ElementsAre("Wrapper application closed."));
}

TEST_F(ContainerAppTest, WithoutAWindowItShowsNothingAndKeepsRunning) {
    const auto delegate = std::make_shared<AppDelegate>();
    application_->loadMainInterface([&](NSApplication& application) {
        application.setDelegate(delegate);
        return std::vector<std::shared_ptr<NSObject>>{delegate};
    });
    LogCapture log;
    bool stillRunning = false;
    bool anyWindowShown = true;
    EXPECT_TRUE(runApplication([&] {
        // Given time to show anything it would show.
        testing::spinEventsUntil([] { return false; }, 0.3);
        stillRunning = application_->isRunning();
        anyWindowShown = false;
        GListModel* toplevels = gtk_window_get_toplevels();
        for (guint i = 0; i < g_list_model_get_n_items(toplevels); ++i) {
            auto* window = static_cast<GtkWidget*>(g_list_model_get_item(toplevels, i));
            anyWindowShown = anyWindowShown || gtk_widget_get_visible(window);
            g_object_unref(window);
        }
        application_->terminate(nullptr);
    }));
    EXPECT_TRUE(stillRunning);
    EXPECT_FALSE(anyWindowShown);
    ASSERT_NE(delegate->containerView(), nullptr);
    EXPECT_EQ(delegate->containerView()->superview(), nullptr);
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
}  // namespace kv
