#include "container_app/app_delegate.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/log.h"

namespace kv {

const char* const kInstallationNotice =
    "                           **IMPORTANT**\n"
    "Please remember to also install the Motion Template!\n"
    "\n"
    "Without it, FCP won't recognize the plugin.\n"
    "\n"
    "Otherwise, it is OK to close this window now.\n"
    "\n"
    "Thanks!";

AppDelegate::AppDelegate() : msgReady_(kInstallationNotice) {}

void AppDelegate::applicationDidFinishLaunching(NSNotification*) { setUpMessageWindow(); }

void AppDelegate::setUpMessageWindow() {
    myDebugThread_ = std::make_shared<DebugThread>();
    myDebugThread_->start();

    containerView_ = std::make_shared<NSStackView>(NSMakeRect(0, 0, 400.0, 200.0));
    containerView_->setOrientation(NSUserInterfaceLayoutOrientationVertical);
    if (CALayer* layer = containerView_->layer()) layer->setContentsGravity(kCAGravityCenter);
    // Keeps its size and floats with the window.
    containerView_->setAutoresizingMask(NSViewMinXMargin | NSViewMaxXMargin | NSViewMinYMargin | NSViewMaxYMargin);

    msgLabel_ = NSTextField::textFieldWithString(msgReady_);
    msgLabel_->setDrawsBackground(false);
    msgLabel_->setEditable(false);
    msgLabel_->setBezeled(false);
    containerView_->addView(msgLabel_, NSStackViewGravityCenter);

    // Targets are held weakly; a delegate that nothing shares is no target.
    const std::shared_ptr<NSObject> self = weak_from_this().lock();
    okButton_ = NSButton::buttonWithTitle("OK - Close This Window", self, SEL("okClicked:", &AppDelegate::okClicked));
    containerView_->addView(okButton_, NSStackViewGravityCenter);
    fitStackToItsViews();

    if (window_ != nullptr) {
        // Closing the window ends the application, as the button does.
        if (const auto closeButton = window_->standardWindowButton(NSWindowCloseButton)) {
            closeButton->setTarget(self);
            closeButton->setAction(SEL("okClicked:", &AppDelegate::okClicked));
        }
        placeStackInWindow();
        window_->contentView()->addSubview(containerView_);
    }
}

void AppDelegate::fitStackToItsViews() {
    // 400 by 200 is the least: with a larger system font the notice and the
    // button need more, and get it with one spacing clear around them.
    const NSSize least = containerView_->frame().size;
    const NSSize fitting = containerView_->fittingSize();
    const double margin = 2 * containerView_->spacing();
    containerView_->setFrameSize(NSSize{std::max(least.width, std::ceil(fitting.width + margin)),
                                        std::max(least.height, std::ceil(fitting.height + margin))});
}

void AppDelegate::placeStackInWindow() {
    // The window is never smaller than the stack, which floats in its middle.
    const NSSize stack = containerView_->frame().size;
    const auto atLeastStack = [&](NSSize size) {
        return NSSize{std::max(size.width, stack.width), std::max(size.height, stack.height)};
    };
    window_->setContentMinSize(atLeastStack(window_->contentMinSize()));
    const NSSize inside = atLeastStack(window_->contentSize());
    window_->setContentSize(inside);
    containerView_->setFrame(NSMakeRect((inside.width - stack.width) / 2, (inside.height - stack.height) / 2,
                                        stack.width, stack.height));
}

void AppDelegate::okClicked(NSObject*) {
    NSLog("Wrapper application closed.");
    const auto application = NSApplication::sharedApplication();
    application->terminate(application.get());
}

}  // namespace kv
