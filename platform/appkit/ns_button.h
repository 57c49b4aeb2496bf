#pragma once
// A push button with a title. Pressing it sends its action to its target.
#include <memory>
#include <string>
#include <string_view>

#include "platform/appkit/ns_control.h"

class NSButton : public NSControl {
public:
    // A push button sized to fit its title.
    static std::shared_ptr<NSButton> buttonWithTitle(std::string_view title,
                                                     const std::shared_ptr<NSObject>& target, SEL action);

    // A button shown by `content`, or by nothing (the window's own buttons,
    // which the window manager draws). Use buttonWithTitle for a push button.
    NSButton(NSRect frame, GtkWidget* content);
    ~NSButton() override;

    std::string title() const { return title_; }
    void setTitle(std::string_view title);

    // Presses the button as the user does: the action goes to the target.
    void performClick();

private:
    std::string title_;
};
