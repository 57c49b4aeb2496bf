#pragma once
// The platform's sleep of the calling thread. Where the sleep goes can be
// replaced, so that tests decide when a sleeping thread wakes.
#include <functional>

struct NSThread {
    // Blocks the calling thread for `seconds`, or as the installed sleeper decides.
    static void sleepForTimeInterval(double seconds);
};

namespace kv {

using Sleeper = std::function<void(double seconds)>;

// Replaces what `NSThread::sleepForTimeInterval` does; an empty sleeper
// restores the real sleep. Returns the sleeper installed before. A thread
// already asleep keeps the sleeper it went to sleep with.
Sleeper setSleeper(Sleeper sleeper);

}  // namespace kv
