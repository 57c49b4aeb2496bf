// The pool is oneTBB's shared arena: its workers are made once per process
// and go to sleep when they find no work, and it balances a loop across
// whatever cores the machine gives it at the moment by work stealing.
#include "platform/dispatch/dispatch.h"

#include <algorithm>

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

void performRanges(size_t count, size_t grain, RangeFunction function, void* body) {
    // Split down to pieces of `grain` iterations and no further: the caller
    // sizes the pieces, and many small ones balance best when other work
    // takes some of the cores.
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, count, grain),
        [&](const tbb::blocked_range<size_t>& range) { function(body, range.begin(), range.end()); },
        tbb::simple_partitioner());
}

}  // namespace detail
}  // namespace kv::dispatch
