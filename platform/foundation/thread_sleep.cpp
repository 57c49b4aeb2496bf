#include "platform/foundation/thread_sleep.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct SleeperSlot {
    std::mutex mutex;
    kv::Sleeper sleeper;
};

// Never destroyed: a thread may sleep through the end of the process.
SleeperSlot& slot() {
    static SleeperSlot& s = *new SleeperSlot;
    return s;
}

}  // namespace

void NSThread::sleepForTimeInterval(double seconds) {
    kv::Sleeper sleeper;
    {
        std::lock_guard lock(slot().mutex);
        sleeper = slot().sleeper;
    }
    if (sleeper) {
        sleeper(seconds);
        return;
    }
    if (!(seconds > 0)) return;  // also NaN: nothing to wait for
    std::this_thread::sleep_for(std::chrono::duration<double>(std::fmin(seconds, 1e9)));
}

namespace kv {

Sleeper setSleeper(Sleeper sleeper) {
    std::lock_guard lock(slot().mutex);
    return std::exchange(slot().sleeper, std::move(sleeper));
}

}  // namespace kv
