#pragma once
// Wall-clock dates, as the platform's date object gives them: a moment as
// seconds since the Unix epoch. Where the current date comes from can be
// replaced, so that tests control the clock.
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

using DateSource = std::function<NSDate()>;

// Replaces where `NSDate::date()` takes the current date from; an empty
// source restores the system clock. Returns the source installed before.
DateSource setDateSource(DateSource source);

}  // namespace kv
