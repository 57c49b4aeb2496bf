#pragma once
// A value that holds for the whole process and that tests may replace (the
// log's sink, the clock, the main bundle, a sleeper, an endpoint...): read
// and replaced under its own lock, so any thread may do either. Each module
// keeps its settings private and offers a setter that answers the value
// before; tests replace a setting through that setter with ScopedOverride.
#include <mutex>
#include <type_traits>
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

    // Calls `f` with the value under the lock: nothing replaces the value
    // meanwhile, and calls through `use` come one at a time (a sink writes
    // whole lines that way). `f` must not use the setting again.
    template <class F>
    decltype(auto) use(F&& f) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(f)(value_);
    }

private:
    mutable std::mutex mutex_;
    T value_;
};

// Gives a setting another value while it lives, through the setter of its
// module, then puts back the one before.
template <class T>
class ScopedOverride {
public:
    using Setter = T (*)(T);

    ScopedOverride(Setter set, std::type_identity_t<T> value) : set_(set), previous_(set(std::move(value))) {}
    ~ScopedOverride() { set_(std::move(previous_)); }
    ScopedOverride(const ScopedOverride&) = delete;
    ScopedOverride& operator=(const ScopedOverride&) = delete;

private:
    Setter set_;
    T previous_;
};

}  // namespace kv
