#include "platform/appkit/ns_control.h"

bool NSControl::sendAction() {
    // Held for the length of the message: the action may release the target.
    const std::shared_ptr<NSObject> receiver = target_.lock();
    const SEL action = action_;
    return receiver != nullptr && action.send(*receiver, this);
}

void NSControl::sizeToFit() {
    if (contentWidget() != nullptr) setFrameSize(fittingSize());
}
