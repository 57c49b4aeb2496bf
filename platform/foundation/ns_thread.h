#pragma once
// A thread of the process, and the sleep of the calling thread. `start` runs
// `main` on a new thread, which keeps the object alive while it runs and ends
// when `main` returns; a thread is started once, later starts do nothing.
// Where the sleep goes can be replaced, so that tests decide when a sleeping
// thread wakes.
#include <atomic>
#include <functional>

#include "platform/foundation/ns_object.h"

class NSThread : public NSObject {
public:
    // Blocks the calling thread for `seconds`, or as the installed sleeper decides.
    static void sleepForTimeInterval(double seconds);

    void start();

    bool isExecuting() const { return state_.load() == State::executing; }
    bool isFinished() const { return state_.load() == State::finished; }

protected:
    // The thread's work; the base does nothing.
    virtual void main() {}

private:
    enum class State { created, executing, finished };
    std::atomic<State> state_{State::created};
};

namespace kv {

using Sleeper = std::function<void(double seconds)>;

// Replaces what `NSThread::sleepForTimeInterval` does; an empty sleeper
// restores the real sleep. Returns the sleeper installed before. A thread
// already asleep keeps the sleeper it went to sleep with.
Sleeper setSleeper(Sleeper sleeper);

}  // namespace kv
