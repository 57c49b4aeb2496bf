#include "platform/appkit/ns_window.h"

#include <cmath>

#include "platform/appkit/toolkit.h"

namespace {

int toPixels(double points) { return static_cast<int>(std::lround(points)); }

}  // namespace

// The window's close button. The window manager draws it, so it has no
// widget; without a target its action goes to the window, the last in line
// to answer it.
class NSWindow::CloseButton final : public NSButton {
public:
    explicit CloseButton(NSWindow* window) : NSButton(NSRect{}, nullptr), window_(window) {
        setAction(SEL("performClose:", &NSWindow::performClose));
    }
    void forgetWindow() { window_ = nullptr; }

    bool sendAction() override {
        if (target() != nullptr) return NSButton::sendAction();
        return window_ != nullptr && action().send(*window_, this);
    }

private:
    NSWindow* window_;
};

NSWindow::NSWindow(NSRect contentRect, unsigned styleMask)
    : styleMask_(styleMask),
      window_(GTK_WINDOW(g_object_ref(gtk_window_new()))),
      contentView_(std::make_shared<NSView>(NSMakeRect(0, 0, contentRect.size.width, contentRect.size.height))) {
    setContentSize(contentRect.size);
    gtk_window_set_decorated(window_, (styleMask & NSWindowStyleMaskTitled) != 0);
    gtk_window_set_resizable(window_, (styleMask & NSWindowStyleMaskResizable) != 0);
    gtk_window_set_deletable(window_, (styleMask & NSWindowStyleMaskClosable) != 0);
    gtk_window_set_child(window_, contentView_->widget());
    g_signal_connect(window_, "close-request", G_CALLBACK(onCloseRequest), this);

    if (styleMask & NSWindowStyleMaskClosable) closeButton_ = std::make_shared<CloseButton>(this);
}

NSWindow::~NSWindow() {
    if (closeButton_ != nullptr) closeButton_->forgetWindow();
    g_signal_handlers_disconnect_by_data(window_, this);
    gtk_window_destroy(window_);
    g_object_unref(window_);
}

void NSWindow::setTitle(std::string_view title) {
    title_ = std::string(title);
    gtk_window_set_title(window_, kv::appkit::displayableText(title_).c_str());
}

void NSWindow::setContentSize(NSSize size) {
    contentView_->setFrameSize(size);
    gtk_window_set_default_size(window_, toPixels(size.width), toPixels(size.height));
}

void NSWindow::setContentMinSize(NSSize size) {
    contentMinSize_ = size;
    gtk_widget_set_size_request(contentView_->widget(), toPixels(size.width), toPixels(size.height));
}

std::shared_ptr<NSButton> NSWindow::standardWindowButton(NSWindowButton button) const {
    return button == NSWindowCloseButton ? closeButton_ : nullptr;
}

void NSWindow::makeKeyAndOrderFront(NSObject*) { gtk_window_present(window_); }

void NSWindow::orderOut(NSObject*) { gtk_widget_set_visible(GTK_WIDGET(window_), false); }

bool NSWindow::isVisible() const { return gtk_widget_get_visible(GTK_WIDGET(window_)); }

void NSWindow::performClose(NSObject*) { close(); }

void NSWindow::close() { orderOut(nullptr); }

gboolean NSWindow::onCloseRequest(GtkWindow*, gpointer self) {
    auto* window = static_cast<NSWindow*>(self);
    // The button's action may release the window and the button.
    const auto keepWindow = window->weak_from_this().lock();
    if (const auto button = window->closeButton_) button->performClick();
    return TRUE;  // the window stays unless the action closed it
}
