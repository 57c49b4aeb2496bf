#include "platform/appkit/ns_application.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/appkit/toolkit.h"
#include "platform/foundation/log.h"

namespace {

NSMainInterface& registeredMainInterface() {
    static NSMainInterface interface;
    return interface;
}

}  // namespace

std::shared_ptr<NSApplication> NSApplication::sharedApplication() {
    static const std::shared_ptr<NSApplication> shared = std::make_shared<NSApplication>();
    return shared;
}

void NSApplication::loadMainInterface(const NSMainInterface& interface) {
    auto objects = interface(*this);
    topLevelObjects_.insert(topLevelObjects_.end(), objects.begin(), objects.end());
}

void NSApplication::unloadMainInterface() {
    // Released in reverse order of loading; a destructor may log or close.
    auto objects = std::move(topLevelObjects_);
    topLevelObjects_.clear();
    while (!objects.empty()) objects.pop_back();
}

void NSApplication::run() {
    if (running_) return;
    running_ = true;
    terminated_ = false;
    if (const auto delegate = delegate_.lock()) {
        NSNotification launched(NSApplicationDidFinishLaunchingNotification, shared_from_this());
        delegate->applicationDidFinishLaunching(&launched);
    }
    while (!terminated_) g_main_context_iteration(nullptr, TRUE);
    running_ = false;
}

void NSApplication::terminate(NSObject*) {
    terminated_ = true;
    g_main_context_wakeup(nullptr);
}

namespace kv::appkit {

bool registerMainInterface(NSMainInterface interface) {
    registeredMainInterface() = std::move(interface);
    return true;
}

}  // namespace kv::appkit

int NSApplicationMain(int argc, const char* argv[]) {
    // The application is named after its executable, as the platform names
    // it; the toolkit gives that name to its windows (WM_CLASS).
    if (argc > 0 && argv[0] != nullptr && g_get_prgname() == nullptr) {
        const std::string name = std::filesystem::path(argv[0]).filename().string();
        g_set_prgname(name.c_str());
        g_set_application_name(name.c_str());
    }
    // The toolkit takes no arguments of its own; the display comes from the
    // environment, as for every program of the desktop.
    if (!kv::appkit::openToolkit()) {
        NSLog("NSApplicationMain: cannot open a display to show the application's windows");
        std::exit(EXIT_FAILURE);
    }
    if (!registeredMainInterface()) {
        NSLog("NSApplicationMain: the program has no main interface");
        std::exit(EXIT_FAILURE);
    }
    const auto application = NSApplication::sharedApplication();
    application->loadMainInterface(registeredMainInterface());
    application->run();
    application->unloadMainInterface();
    return 0;
}
