#include "plugin/stat_thread_slot.h"

#include <exception>
#include <string>
#include <utility>

#include "platform/foundation/log.h"
#include "stats/stat_thread.h"

namespace kv {

StatThreadSlot& StatThreadSlot::process() {
    // Never destroyed: the thread it keeps lives as long as the process.
    static StatThreadSlot& slot = *new StatThreadSlot(
        [](std::weak_ptr<Counter> counter) -> std::shared_ptr<void> { return startStatThread(std::move(counter)); });
    return slot;
}

StatThreadSlot::StatThreadSlot(Starter starter) : starter_(std::move(starter)) {}

bool StatThreadSlot::fillOnce(const std::weak_ptr<Counter>& counter) {
    std::lock_guard guard(mutex_);
    if (filled_) return false;
    // Filled even when the start fails: a process starts one thread at most.
    filled_ = true;
    try {
        thread_ = starter_(counter);
    } catch (const std::exception& e) {
        NSLog(std::string("Unable to start the statistics thread: ") + e.what());
    }
    return true;
}

bool StatThreadSlot::filled() const {
    std::lock_guard guard(mutex_);
    return filled_;
}

void StatThreadSlot::setStarter(Starter starter) {
    std::lock_guard guard(mutex_);
    starter_ = std::move(starter);
}

}  // namespace kv
