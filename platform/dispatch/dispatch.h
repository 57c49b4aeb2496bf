#pragma once
// The process's one pool of worker threads, in the manner of the platform's
// concurrentPerform (dispatch_apply): a loop whose iterations are
// independent is split over the pool and the call returns when every
// iteration has run. The workers are made once, shared by every parallel
// loop of the process, and sleep while there is no work, so that idle
// cores are never burnt waiting. The calling thread takes part in the work.
#include <cstddef>
#include <memory>
#include <utility>

namespace kv::dispatch {

// Runs body(begin, end) over consecutive sub-ranges that together cover
// [0, count) once, in any order and on any thread of the pool. The range is
// split into pieces of `grain` iterations or fewer, and only that far; a
// count of `grain` or fewer runs at once on the calling thread.
template <class Body>
void concurrentPerform(size_t count, size_t grain, Body&& body);

// Runs body(i) for every i in [0, count), each iteration on its own.
template <class Body>
void concurrentPerform(size_t count, Body&& body) {
    concurrentPerform(count, 1, [&body](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) body(i);
    });
}

// How many threads, the caller's included, a loop may run on at most now.
size_t maximumConcurrency();

// While it lives, no loop of the process runs on more than `threads`
// threads (at least 1), the caller's included; for measuring and tests.
class ConcurrencyLimit {
public:
    explicit ConcurrencyLimit(size_t threads);
    ~ConcurrencyLimit();
    ConcurrencyLimit(const ConcurrencyLimit&) = delete;
    ConcurrencyLimit& operator=(const ConcurrencyLimit&) = delete;

private:
    struct Control;
    std::unique_ptr<Control> control_;
};

namespace detail {
using RangeFunction = void (*)(void* body, size_t begin, size_t end);
void performRanges(size_t count, size_t grain, RangeFunction function, void* body);
}  // namespace detail

template <class Body>
void concurrentPerform(size_t count, size_t grain, Body&& body) {
    if (count == 0) return;
    if (grain == 0) grain = 1;
    if (count <= grain) {
        body(size_t{0}, count);
        return;
    }
    using Target = std::remove_reference_t<Body>;
    detail::performRanges(
        count, grain,
        [](void* target, size_t begin, size_t end) { (*static_cast<Target*>(target))(begin, end); },
        const_cast<void*>(static_cast<const void*>(std::addressof(body))));
}

}  // namespace kv::dispatch
