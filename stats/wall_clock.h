#pragma once
// The wall clock as the statistics read it: milliseconds since 1970-01-01
// 00:00 UTC, from the platform's current date (which tests control).
#include <cstdint>

namespace kv {

// The date's seconds since 1970 times 1000, truncated toward zero. A date
// before 1970 reads as 0, one past the unsigned 64-bit range as its largest value.
uint64_t millisecondsSince1970();

}  // namespace kv
