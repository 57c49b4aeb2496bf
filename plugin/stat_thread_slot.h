#pragma once
// The process's one statistics thread. The first effect object of the
// process starts it, bound to that object's counter; every later one finds
// the slot filled and starts nothing. The slot keeps the thread for the life
// of the process and is never emptied.
#include <functional>
#include <memory>
#include <mutex>

namespace kv {

class Counter;

class StatThreadSlot {
public:
    // Starts the statistics thread for `counter` and returns what keeps it
    // alive (none while the process has no statistics thread to start).
    using Starter = std::function<std::shared_ptr<void>(std::weak_ptr<Counter> counter)>;

    // The slot of this process.
    static StatThreadSlot& process();

    explicit StatThreadSlot(Starter starter);

    // Starts the thread for `counter` and fills the slot, unless it is
    // filled already. The check and the filling are one step, so two effect
    // objects made at the same moment start one thread between them. True
    // for the call that filled the slot.
    bool fillOnce(const std::weak_ptr<Counter>& counter);
    bool filled() const;

    // Replaces how the thread is started; takes effect only before the slot
    // is filled.
    void setStarter(Starter starter);

private:
    mutable std::mutex mutex_;
    Starter starter_;
    bool filled_ = false;
    std::shared_ptr<void> thread_;
};

}  // namespace kv
