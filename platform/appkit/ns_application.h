#pragma once
// The application: one per process. NSApplicationMain builds the program's
// main interface (its delegate and windows, what the platform loads from
// the interface file its bundle names), tells the delegate when launching
// has finished and runs the event loop on the calling thread until the
// application is terminated.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/ns_object.h"

inline constexpr std::string_view NSApplicationDidFinishLaunchingNotification =
    "NSApplicationDidFinishLaunchingNotification";

class NSNotification : public NSObject {
public:
    NSNotification(std::string_view name, std::shared_ptr<NSObject> object)
        : name_(name), object_(std::move(object)) {}
    const std::string& name() const { return name_; }
    const std::shared_ptr<NSObject>& object() const { return object_; }

private:
    std::string name_;
    std::shared_ptr<NSObject> object_;
};

class NSApplicationDelegate {
public:
    virtual ~NSApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching(NSNotification* notification) { (void)notification; }
};

class NSApplication;

// Builds the objects the program starts with and returns those the
// application is to keep (the delegate among them; it is held weakly).
using NSMainInterface = std::function<std::vector<std::shared_ptr<NSObject>>(NSApplication&)>;

class NSApplication : public NSObject {
public:
    static std::shared_ptr<NSApplication> sharedApplication();

    // Held weakly.
    std::shared_ptr<NSApplicationDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<NSApplicationDelegate>& delegate) { delegate_ = delegate; }

    // Builds the interface and keeps what it returns until unloadMainInterface.
    void loadMainInterface(const NSMainInterface& interface);
    void unloadMainInterface();

    // Tells the delegate that launching has finished, then handles events
    // until terminate. Runs on the main thread.
    void run();
    bool isRunning() const { return running_; }

    // Ends the event loop: run returns, and the program ends.
    void terminate(NSObject* sender);

private:
    std::weak_ptr<NSApplicationDelegate> delegate_;
    std::vector<std::shared_ptr<NSObject>> topLevelObjects_;
    bool running_ = false;
    bool terminated_ = false;
};

namespace kv::appkit {

// The program's main interface, as its bundle names it; registered once when
// the program's code is loaded. Returns true, for use in a static initialiser.
bool registerMainInterface(NSMainInterface interface);

}  // namespace kv::appkit

// Opens the display, builds the registered main interface and runs the
// application; returns 0 once the application is terminated. Without a
// display, or without a main interface, it logs why and ends the process
// with status 1.
int NSApplicationMain(int argc, const char* argv[]);
