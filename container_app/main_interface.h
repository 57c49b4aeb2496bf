#pragma once
// The program's main interface: the application's delegate and its main
// window, connected to each other before launching finishes.
#include <memory>
#include <vector>

#include "platform/appkit/ns_application.h"

namespace kv {

inline constexpr const char* kMainWindowTitle = "Kestrelvantage";
inline constexpr double kMainWindowWidth = 400.0;
inline constexpr double kMainWindowHeight = 200.0;

// Creates the delegate and the main window (shown, titled, closable,
// resizable no smaller than its notice), makes the delegate the
// application's and returns both for the application to keep.
std::vector<std::shared_ptr<NSObject>> loadMainInterface(NSApplication& application);

}  // namespace kv
