#pragma once
// The application's delegate: once launching has finished it shows the
// installation notice with one button in the main window, and the button or
// the window's close button ends the application.
#include <memory>
#include <string>

#include "container_app/debug_thread.h"
#include "platform/appkit/ns_application.h"
#include "platform/appkit/ns_button.h"
#include "platform/appkit/ns_stack_view.h"
#include "platform/appkit/ns_text_field.h"
#include "platform/appkit/ns_window.h"

namespace kv {

// The notice: eight lines, the first indented by 27 blanks.
extern const char* const kInstallationNotice;

class AppDelegate : public NSObject, public NSApplicationDelegate {
public:
    AppDelegate();

    // The main window, connected by the main interface.
    const std::shared_ptr<NSWindow>& window() const { return window_; }
    void setWindow(std::shared_ptr<NSWindow> window) { window_ = std::move(window); }

    const std::shared_ptr<NSStackView>& containerView() const { return containerView_; }
    const std::shared_ptr<NSTextField>& msgLabel() const { return msgLabel_; }
    const std::shared_ptr<NSButton>& okButton() const { return okButton_; }
    const std::shared_ptr<DebugThread>& myDebugThread() const { return myDebugThread_; }
    const std::string& msgReady() const { return msgReady_; }

    void applicationDidFinishLaunching(NSNotification* notification) override;

    // Builds the notice and the button and shows them in the window.
    void setUpMessageWindow();

    // The action of the button and of the window's close button.
    void okClicked(NSObject* sender);

private:
    // The stack grows from its first size to hold its views at the system's
    // font size, and the window to hold the stack.
    void fitStackToItsViews();
    void placeStackInWindow();

    std::shared_ptr<NSWindow> window_;
    std::shared_ptr<NSStackView> containerView_;
    std::shared_ptr<NSTextField> msgLabel_;
    std::shared_ptr<NSButton> okButton_;
    std::shared_ptr<DebugThread> myDebugThread_;
    const std::string msgReady_;
};

}  // namespace kv
