#pragma once
// A virtual X display for the tests of windows: one Xvfb server per test
// process, started on the first use on a display number that it picks
// itself, stopped when the tests end. The toolkit is pointed at it through
// the environment (also inherited by the programs the tests start).
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kv::testing {

// The display (":N"), or empty when Xvfb could not start; then `whyNot` says why.
struct VirtualDisplay {
    std::string name;
    std::string whyNot;
};
const VirtualDisplay& virtualDisplay();

// Starts the display and opens the toolkit on it; false (with the reason
// in `why`) when either fails.
bool openToolkitOnVirtualDisplay(std::string& why);

// Handles the toolkit's events until `done` is true or `seconds` pass;
// returns `done()`.
bool spinEventsUntil(const std::function<bool()>& done, double seconds = 10.0);

#define KV_SKIP_WITHOUT_DISPLAY()                                                 \
    if (std::string why; !kv::testing::openToolkitOnVirtualDisplay(why))          \
    GTEST_SKIP() << "no X display for window tests (Xvfb cannot start): " << why

}  // namespace kv::testing
