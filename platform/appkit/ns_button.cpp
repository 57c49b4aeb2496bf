#include "platform/appkit/ns_button.h"

#include <string>

#include "platform/appkit/toolkit.h"

namespace {

void onClicked(GtkButton*, gpointer button) { static_cast<NSButton*>(button)->sendAction(); }

}  // namespace

NSButton::NSButton(NSRect frame, GtkWidget* content) : NSControl(frame, content) {
    if (content != nullptr && GTK_IS_BUTTON(content)) {
        g_signal_connect(content, "clicked", G_CALLBACK(onClicked), this);
    }
}

NSButton::~NSButton() {
    if (contentWidget() != nullptr) g_signal_handlers_disconnect_by_data(contentWidget(), this);
}

std::shared_ptr<NSButton> NSButton::buttonWithTitle(std::string_view title, const std::shared_ptr<NSObject>& target,
                                                    SEL action) {
    auto button = std::make_shared<NSButton>(NSRect{}, gtk_button_new());
    button->setTitle(title);
    button->setTarget(target);
    button->setAction(std::move(action));
    button->sizeToFit();
    return button;
}

void NSButton::setTitle(std::string_view title) {
    title_ = std::string(title);
    if (contentWidget() != nullptr && GTK_IS_BUTTON(contentWidget())) {
        gtk_button_set_label(GTK_BUTTON(contentWidget()), kv::appkit::displayableText(title_).c_str());
    }
}

void NSButton::performClick() {
    if (contentWidget() != nullptr && GTK_IS_BUTTON(contentWidget())) {
        // Through the toolkit, as a press of the button arrives.
        g_signal_emit_by_name(contentWidget(), "clicked");
    } else {
        sendAction();
    }
}
