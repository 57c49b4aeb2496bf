#pragma once
// A window on screen: a title, a content view across its inside and, with
// the closable style, a close button. The window manager draws the title bar
// and its close button; asking the window to close (the close button, the
// keyboard, the window menu) presses this window's close button, which sends
// its action: by default performClose to the window, which closes it.
#include <memory>
#include <string>
#include <string_view>

#include "platform/appkit/ns_button.h"
#include "platform/appkit/ns_view.h"

enum NSWindowStyleMask : unsigned {
    NSWindowStyleMaskBorderless = 0,
    NSWindowStyleMaskTitled = 1,
    NSWindowStyleMaskClosable = 2,
    NSWindowStyleMaskMiniaturizable = 4,
    NSWindowStyleMaskResizable = 8,
};

enum NSWindowButton : int {
    NSWindowCloseButton = 0,
    NSWindowMiniaturizeButton = 1,
    NSWindowZoomButton = 2,
};

class NSWindow : public NSObject {
public:
    // A window whose inside has the size of `contentRect` (its origin is the
    // window manager's to choose); `styleMask` is a set of NSWindowStyleMask.
    NSWindow(NSRect contentRect, unsigned styleMask);
    ~NSWindow() override;

    std::string title() const { return title_; }
    void setTitle(std::string_view title);

    unsigned styleMask() const { return styleMask_; }

    const std::shared_ptr<NSView>& contentView() const { return contentView_; }
    // The size of the inside; a new size is the window's from then on,
    // until the user resizes it.
    NSSize contentSize() const { return contentView_->frame().size; }
    void setContentSize(NSSize size);
    // The smallest size the inside may be resized to.
    NSSize contentMinSize() const { return contentMinSize_; }
    void setContentMinSize(NSSize size);

    // The close button, when the window has the closable style; the other
    // buttons are the window manager's alone and give null.
    std::shared_ptr<NSButton> standardWindowButton(NSWindowButton button) const;

    void makeKeyAndOrderFront(NSObject* sender);
    void orderOut(NSObject* sender);
    bool isVisible() const;

    // Closes the window, as its close button does by default.
    void performClose(NSObject* sender);
    // Takes the window off the screen.
    void close();

    GtkWindow* gtkWindow() const { return window_; }

private:
    class CloseButton;
    static gboolean onCloseRequest(GtkWindow* window, gpointer self);

    std::string title_;
    unsigned styleMask_;
    GtkWindow* window_;
    std::shared_ptr<NSView> contentView_;
    NSSize contentMinSize_{};
    std::shared_ptr<CloseButton> closeButton_;
};
