#include "platform/appkit/ns_control.h"

bool NSControl::sendAction() {
    // Held for the length of the message: the action may release the target.
    const std::shared_ptr<NSObject> receiver = target_.lock();
    const SEL action = action_;
    return receiver != nullptr && action.send(*receiver, this);
}

void NSControl::sizeToFit() {
    GtkWidget* content = contentWidget();
    if (content == nullptr) return;
    int width = 0;
    int height = 0;
    gtk_widget_measure(content, GTK_ORIENTATION_HORIZONTAL, -1, nullptr, &width, nullptr, nullptr);
    gtk_widget_measure(content, GTK_ORIENTATION_VERTICAL, width, nullptr, &height, nullptr, nullptr);
    setFrameSize(NSSize{static_cast<double>(width), static_cast<double>(height)});
}
