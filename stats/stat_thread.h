#pragma once
// The statistics thread: sends the statistics message of one Counter right
// after it starts and then after every 600-second sleep, and resets the
// counters after each message handed to the upload. It holds the Counter
// weakly and ends when it wakes to find it gone.
#include <memory>
#include <thread>

namespace kv {

class Counter;

class StatThread {
public:
    StatThread() = default;
    // Waits for the thread to end: it ends only after its counter is gone
    // and its sleep is over.
    ~StatThread();
    StatThread(const StatThread&) = delete;
    StatThread& operator=(const StatThread&) = delete;

    // Runs `main` on a new thread. Point `counter` at the Counter before.
    void start();

    // The statistics loop, until the counter is gone.
    void main();

    std::weak_ptr<Counter> counter;

private:
    std::thread thread_;
};

// Starts a statistics thread bound to `counter` and returns it; none when
// this build has no statistics endpoint to send to.
std::shared_ptr<StatThread> startStatThread(std::weak_ptr<Counter> counter);

}  // namespace kv
