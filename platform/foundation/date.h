#pragma once
// Wall-clock dates, as the platform's date object gives them: a moment as
// seconds since the Unix epoch. Where the current date comes from can be
// replaced, so that tests control the clock.
#include <cstdint>
#include <functional>

struct NSDate {
    double timeIntervalSince1970 = 0;

    // The current date, from the installed date source.
    static NSDate date();

    // Seconds from `other` to this date; negative when `other` is later.
    double timeIntervalSinceDate(const NSDate& other) const {
        return timeIntervalSince1970 - other.timeIntervalSince1970;
    }

    friend bool operator==(const NSDate&, const NSDate&) = default;
};

namespace kv {

// Milliseconds from 1970-01-01 00:00 UTC to `date`: its seconds since 1970
// times 1000, truncated toward zero. A date before 1970 reads as 0, one past
// the unsigned 64-bit range as its largest value.
uint64_t millisecondsSince1970(const NSDate& date);

// The same for the current date, from the installed date source.
inline uint64_t millisecondsSince1970() { return millisecondsSince1970(NSDate::date()); }

using DateSource = std::function<NSDate()>;

// Replaces where `NSDate::date()` takes the current date from; an empty
// source restores the system clock. Returns the source installed before.
DateSource setDateSource(DateSource source);

}  // namespace kv
