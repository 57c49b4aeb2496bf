#include "plugin/stat_thread_slot.h"

#include <utility>

namespace kv {

StatThreadSlot& StatThreadSlot::process() {
    // The statistics thread comes with the statistics upload; until then the
    // first effect object fills the slot and nothing runs.
    static StatThreadSlot slot([](std::weak_ptr<Counter>) { return std::shared_ptr<void>(); });
    return slot;
}

StatThreadSlot::StatThreadSlot(Starter starter) : starter_(std::move(starter)) {}

bool StatThreadSlot::fillOnce(const std::weak_ptr<Counter>& counter) {
    std::lock_guard guard(mutex_);
    if (filled_) return false;
    thread_ = starter_(counter);
    filled_ = true;
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
