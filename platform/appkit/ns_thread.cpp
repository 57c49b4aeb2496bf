#include "platform/appkit/ns_thread.h"

#include <memory>
#include <system_error>
#include <thread>

#include "platform/foundation/log.h"

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
