#pragma once
// A value that holds for the whole process and that tests may replace (a
// sleeper, an endpoint, the trusted certificates): read and replaced under
// its own lock, so any thread may do either.
#include <mutex>
#include <utility>

namespace kv {

template <class T>
class ProcessSetting {
public:
    explicit ProcessSetting(T initial = T{}) : value_(std::move(initial)) {}

    T get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }

    // Puts `value` in place and returns the one before.
    T exchange(T value) {
        std::lock_guard lock(mutex_);
        return std::exchange(value_, std::move(value));
    }

private:
    mutable std::mutex mutex_;
    T value_;
};

}  // namespace kv
