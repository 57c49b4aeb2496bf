#include "platform/foundation/thread_sleep.h"

#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include "platform/foundation/process_setting.h"

namespace {

// Never destroyed: a thread may sleep through the end of the process.
kv::ProcessSetting<kv::Sleeper>& installedSleeper() {
    static auto& sleeper = *new kv::ProcessSetting<kv::Sleeper>;
    return sleeper;
}

}  // namespace

void NSThread::sleepForTimeInterval(double seconds) {
    if (const kv::Sleeper sleeper = installedSleeper().get()) {
        sleeper(seconds);
        return;
    }
    if (!(seconds > 0)) return;  // also NaN: nothing to wait for
    std::this_thread::sleep_for(std::chrono::duration<double>(std::fmin(seconds, 1e9)));
}

namespace kv {

Sleeper setSleeper(Sleeper sleeper) { return installedSleeper().exchange(std::move(sleeper)); }

}  // namespace kv
