#pragma once
// A thread of the process. `start` runs `main` on a new thread, which keeps
// the object alive while it runs and ends when `main` returns. A thread is
// started once; later starts do nothing.
#include <atomic>

#include "platform/appkit/ns_object.h"

class NSThread : public NSObject {
public:
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
