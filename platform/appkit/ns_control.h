#pragma once
// A view the user acts on: it sends its action message to its target. The
// target is held weakly, as the platform does; a control whose target is
// gone, or does not answer the action, sends nothing.
#include <memory>

#include "platform/foundation/ns_object.h"
#include "platform/appkit/ns_view.h"

class NSControl : public NSView {
public:
    using NSView::NSView;

    std::shared_ptr<NSObject> target() const { return target_.lock(); }
    void setTarget(const std::shared_ptr<NSObject>& target) { target_ = target; }

    const SEL& action() const { return action_; }
    void setAction(SEL action) { action_ = std::move(action); }

    // Sends the action to the target with this control as the sender;
    // false when nothing answered.
    virtual bool sendAction();

    // Takes the size that fits the control's content.
    void sizeToFit();

private:
    std::weak_ptr<NSObject> target_;
    SEL action_;
};
