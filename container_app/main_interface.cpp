#include "container_app/main_interface.h"

#include "container_app/app_delegate.h"
#include "platform/appkit/ns_window.h"

namespace kv {

std::vector<std::shared_ptr<NSObject>> loadMainInterface(NSApplication& application) {
    auto delegate = std::make_shared<AppDelegate>();
    // The notice fills the window's inside.
    auto window = std::make_shared<NSWindow>(
        NSMakeRect(0, 0, kMainWindowWidth, kMainWindowHeight),
        NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable |
            NSWindowStyleMaskResizable);
    window->setTitle(kMainWindowTitle);
    window->setContentMinSize(NSSize{kMainWindowWidth, kMainWindowHeight});
    window->makeKeyAndOrderFront(nullptr);
    delegate->setWindow(window);
    application.setDelegate(delegate);
    return {delegate, window};
}

namespace {
const bool registered = appkit::registerMainInterface(loadMainInterface);
}  // namespace

}  // namespace kv
