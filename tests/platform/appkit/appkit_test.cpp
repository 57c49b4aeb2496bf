// The window classes under the container program: frames and their
// autoresizing, stacks, action messages, fields, window closing, threads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/appkit/ns_application.h"
#include "platform/appkit/ns_button.h"
#include "platform/appkit/ns_stack_view.h"
#include "platform/appkit/ns_text_field.h"
#include "platform/foundation/ns_thread.h"
#include "platform/appkit/ns_window.h"
#include "platform/foundation/log.h"
#include "tests/support/display_session.h"

namespace {

using ::testing::ElementsAre;

class Receiver : public NSObject {
public:
    void act(NSObject* sender) { senders.push_back(sender); }
    std::vector<NSObject*> senders;
};

class Stranger : public NSObject {};

class AppKitTest : public ::testing::Test {
protected:
    void SetUp() override { KV_SKIP_WITHOUT_DISPLAY(); }
};

TEST_F(AppKitTest, FloatingViewKeepsItsSizeAndSharesTheChangeOfItsMargins) {
    auto content = std::make_shared<NSView>(NSMakeRect(0, 0, 400, 200));
    auto floating = std::make_shared<NSView>(NSMakeRect(0, 0, 400, 200));
    floating->setAutoresizingMask(NSViewMinXMargin | NSViewMaxXMargin | NSViewMinYMargin | NSViewMaxYMargin);
    auto pinned = std::make_shared<NSView>(NSMakeRect(10, 20, 100, 50));
    auto stretched = std::make_shared<NSView>(NSMakeRect(10, 20, 100, 50));
    stretched->setAutoresizingMask(NSViewWidthSizable | NSViewMaxXMargin | NSViewHeightSizable);
    content->addSubview(floating);
    content->addSubview(pinned);
    content->addSubview(stretched);

    content->setFrameSize(NSSize{600, 400});  // margins all empty: shared evenly
    EXPECT_EQ(floating->frame(), NSMakeRect(100, 100, 400, 200));
    EXPECT_EQ(pinned->frame(), NSMakeRect(10, 20, 100, 50));
    // Width 100 and right margin 290 share 200 in proportion; the height takes all 200.
    EXPECT_DOUBLE_EQ(stretched->frame().size.width, 100 + 200 * (100.0 / 390));
    EXPECT_DOUBLE_EQ(stretched->frame().size.height, 250);

    content->setFrameSize(NSSize{800, 300});  // in proportion to the margins now
    EXPECT_EQ(floating->frame(), NSMakeRect(200, 50, 400, 200));
    content->setFrameSize(NSSize{100, 100});  // smaller than the view: margins go negative
    EXPECT_EQ(floating->frame().size, (NSSize{400, 200}));
}

TEST_F(AppKitTest, WidgetsLieWhereTheFramesSayWithYCountedFromTheBottom) {
    auto content = std::make_shared<NSView>(NSMakeRect(0, 0, 200, 100));
    auto child = std::make_shared<NSView>(NSMakeRect(10, 20, 50, 30));
    child->setAutoresizingMask(NSViewMaxXMargin | NSViewMaxYMargin);  // pinned to the bottom left
    content->addSubview(child);
    const auto layOut = [&](int width, int height) {
        int unused = 0;
        gtk_widget_measure(content->widget(), GTK_ORIENTATION_HORIZONTAL, -1, &unused, nullptr, nullptr, nullptr);
        gtk_widget_measure(content->widget(), GTK_ORIENTATION_VERTICAL, -1, &unused, nullptr, nullptr, nullptr);
        const GtkAllocation all{0, 0, width, height};
        gtk_widget_size_allocate(content->widget(), &all, -1);
        graphene_rect_t bounds;
        EXPECT_TRUE(gtk_widget_compute_bounds(child->widget(), content->widget(), &bounds));
        return bounds;
    };
    graphene_rect_t bounds = layOut(200, 100);
    EXPECT_FLOAT_EQ(bounds.origin.x, 10);
    EXPECT_FLOAT_EQ(bounds.origin.y, 100 - 20 - 30);
    EXPECT_FLOAT_EQ(bounds.size.width, 50);
    EXPECT_FLOAT_EQ(bounds.size.height, 30);
    // Laid out larger, the content view takes the size; the child stays at the bottom left.
    bounds = layOut(300, 160);
    EXPECT_EQ(content->frame(), NSMakeRect(0, 0, 300, 160));
    EXPECT_EQ(child->frame(), NSMakeRect(10, 20, 50, 30));
    EXPECT_FLOAT_EQ(bounds.origin.y, 160 - 20 - 30);

    child->setFrame(NSMakeRect(NAN, 1e300, -5, INFINITY));  // placed somewhere, never a fault
    bounds = layOut(300, 160);
    EXPECT_FLOAT_EQ(bounds.size.width, 0);
}

TEST_F(AppKitTest, SubviewsMoveBetweenSuperviewsAndLeaveWithThem) {
    auto first = std::make_shared<NSView>(NSMakeRect(0, 0, 100, 100));
    auto second = std::make_shared<NSView>(NSMakeRect(0, 0, 100, 100));
    auto child = std::make_shared<NSView>(NSMakeRect(0, 0, 10, 10));
    first->addSubview(child);
    second->addSubview(child);
    EXPECT_TRUE(first->subviews().empty());
    EXPECT_THAT(second->subviews(), ElementsAre(child));
    EXPECT_EQ(child->superview(), second.get());
    EXPECT_EQ(gtk_widget_get_parent(child->widget()), second->widget());
    second.reset();
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_EQ(gtk_widget_get_parent(child->widget()), nullptr);
    first->addSubview(first);  // a view is never its own subview
    EXPECT_THAT(first->subviews(), ElementsAre());
}

TEST_F(AppKitTest, StackKeepsViewsByGravityAndTakesThemFromElsewhere) {
    auto stack = std::make_shared<NSStackView>(NSMakeRect(0, 0, 200, 100));
    EXPECT_EQ(stack->orientation(), NSUserInterfaceLayoutOrientationHorizontal);
    EXPECT_EQ(stack->spacing(), 8.0);
    auto a = std::make_shared<NSView>(NSMakeRect(0, 0, 10, 10));
    auto b = std::make_shared<NSView>(NSMakeRect(0, 0, 10, 10));
    stack->addView(a, NSStackViewGravityBottom);
    stack->addView(b, NSStackViewGravityTop);
    stack->addView(a, NSStackViewGravityCenter);  // moves, never twice
    stack->addView(b, static_cast<NSStackViewGravity>(7));
    EXPECT_THAT(stack->views(), ElementsAre(b, a));
    EXPECT_TRUE(stack->viewsInGravity(NSStackViewGravityBottom).empty());
    a->removeFromSuperview();
    EXPECT_THAT(stack->views(), ElementsAre(b));
    EXPECT_EQ(gtk_widget_get_parent(a->widget()), nullptr);
    stack.reset();
    EXPECT_EQ(b->superview(), nullptr);
}

TEST_F(AppKitTest, ActionsGoOnlyToLiveTargetsThatAnswerThem) {
    auto receiver = std::make_shared<Receiver>();
    auto button = NSButton::buttonWithTitle("Press", receiver, SEL("act:", &Receiver::act));
    EXPECT_GT(button->frame().size.width, 0);
    button->performClick();
    EXPECT_THAT(receiver->senders, ElementsAre(button.get()));

    auto stranger = std::make_shared<Stranger>();
    button->setTarget(stranger);
    EXPECT_FALSE(button->sendAction());
    button->setTarget(receiver);
    receiver.reset();  // held weakly
    EXPECT_FALSE(button->sendAction());
    button->performClick();
}

TEST_F(AppKitTest, FieldKeepsItsTextAndShowsWhatTheToolkitCan) {
    const std::string text("line one\n  \xff\x00 end", 17);
    auto field = NSTextField::textFieldWithString(text);
    EXPECT_EQ(field->stringValue(), text);
    EXPECT_TRUE(field->drawsBackground());
    EXPECT_TRUE(field->isEditable());
    EXPECT_TRUE(field->isBezeled());
    GtkWidget* label = gtk_widget_get_first_child(field->widget());
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label))), "line one\n  \xEF\xBF\xBD\xEF\xBF\xBD end");
    EXPECT_TRUE(gtk_widget_has_css_class(label, "kv-field-bezel"));
    field->setBezeled(false);
    field->setDrawsBackground(false);
    EXPECT_FALSE(gtk_widget_has_css_class(label, "kv-field-bezel"));
    EXPECT_FALSE(gtk_widget_has_css_class(label, "kv-field-background"));
}

TEST_F(AppKitTest, CloseRequestPressesTheCloseButtonWhichClosesByDefault) {
    auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 120, 80), NSWindowStyleMaskTitled | NSWindowStyleMaskClosable);
    EXPECT_EQ(window->standardWindowButton(NSWindowZoomButton), nullptr);
    const auto closeButton = window->standardWindowButton(NSWindowCloseButton);
    ASSERT_NE(closeButton, nullptr);
    EXPECT_EQ(closeButton->action().name(), "performClose:");
    window->makeKeyAndOrderFront(nullptr);
    EXPECT_TRUE(window->isVisible());
    gtk_window_close(window->gtkWindow());
    EXPECT_FALSE(window->isVisible());

    auto receiver = std::make_shared<Receiver>();
    closeButton->setTarget(receiver);
    closeButton->setAction(SEL("act:", &Receiver::act));
    window->makeKeyAndOrderFront(nullptr);
    gtk_window_close(window->gtkWindow());
    EXPECT_TRUE(window->isVisible());  // the new action does not close
    EXPECT_THAT(receiver->senders, ElementsAre(closeButton.get()));

    auto fixed = std::make_shared<NSWindow>(NSMakeRect(0, 0, 120, 80), NSWindowStyleMaskTitled);
    EXPECT_EQ(fixed->standardWindowButton(NSWindowCloseButton), nullptr);
    fixed->makeKeyAndOrderFront(nullptr);
    gtk_window_close(fixed->gtkWindow());
    EXPECT_TRUE(fixed->isVisible());
}

class CountingThread : public NSThread {
public:
    std::atomic<int> runs{0};

protected:
    void main() override { ++runs; }
};

TEST(AppKitThreadConcurrencyTest, ThreadRunsItsMainOnceAndEnds) {
    auto thread = std::make_shared<CountingThread>();
    EXPECT_FALSE(thread->isExecuting());
    thread->start();
    thread->start();
    for (int i = 0; i < 500 && !thread->isFinished(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(thread->isFinished());
    EXPECT_EQ(thread->runs.load(), 1);

    kv::LogCapture log;
    CountingThread unshared;
    unshared.start();
    EXPECT_TRUE(unshared.isFinished());
    EXPECT_EQ(unshared.runs.load(), 0);
    EXPECT_THAT(log.lines(), ElementsAre("NSThread: a thread that is not shared cannot start"));
}

}  // namespace
