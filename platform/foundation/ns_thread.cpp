#include "platform/foundation/ns_thread.h"

#include <chrono>
#include <cmath>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/foundation/log.h"
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

void NSThread::start() {
    State expected = State::created;
    if (!state_.compare_exchange_strong(expected, State::executing)) return;
    // The running thread holds the object, so it must be shared.
    auto self = std::static_pointer_cast<NSThread>(weak_from_this().lock());
    if (self == nullptr) {
        state_.store(State::finished);
        NSLog("NSThread: a thread that is not shared cannot start");
        return;
    }
    try {
        std::thread([self] {
            self->main();
            self->state_.store(State::finished);
        }).detach();
    } catch (const std::system_error& error) {
        state_.store(State::finished);
        NSLog(std::string("NSThread: cannot start a thread: ") + error.what());
    }
}

namespace kv {

Sleeper setSleeper(Sleeper sleeper) { return installedSleeper().exchange(std::move(sleeper)); }

}  // namespace kv
