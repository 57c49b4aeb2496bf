// The pool is oneTBB's shared arena: its workers are made once per process
// and go to sleep when they find no work, and it balances a loop across
// whatever cores the machine gives it at the moment by work stealing.
#include "platform/dispatch/dispatch.h"

#if defined(__SANITIZE_THREAD__)
#define KV_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KV_THREAD_SANITIZER 1
#endif
#endif

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>

namespace kv::dispatch {

struct ConcurrencyLimit::Control {
    explicit Control(size_t threads)
        : control(tbb::global_control::max_allowed_parallelism, std::max<size_t>(threads, 1)) {}
    tbb::global_control control;
};

ConcurrencyLimit::ConcurrencyLimit(size_t threads) : control_(std::make_unique<Control>(threads)) {}

ConcurrencyLimit::~ConcurrencyLimit() = default;

size_t maximumConcurrency() {
    return tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
}

namespace detail {

#if defined(KV_THREAD_SANITIZER)

// ThreadSanitizer cannot see how the system's oneTBB, which is not built for
// it, hands work between its threads, and would report its every hand-over.
// So that it still checks the loop bodies on several threads at once, a
// loop here runs on threads started for it, each taking the next piece.
void performRanges(size_t count, size_t grain, RangeFunction function, void* body) {
    const size_t pieces = (count + grain - 1) / grain;
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t piece = next++; piece < pieces; piece = next++)
            function(body, piece * grain, std::min(count, (piece + 1) * grain));
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < std::min(pieces, maximumConcurrency()); ++i) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
}

#else

void performRanges(size_t count, size_t grain, RangeFunction function, void* body) {
    // Split down to pieces of `grain` iterations and no further: the caller
    // sizes the pieces, and many small ones balance best when other work
    // takes some of the cores.
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, count, grain),
        [&](const tbb::blocked_range<size_t>& range) { function(body, range.begin(), range.end()); },
        tbb::simple_partitioner());
}

#endif

}  // namespace detail
}  // namespace kv::dispatch
