#pragma once
// Rational time, as the platform's media framework defines it: a 64-bit
// count of 1/timescale second units.
#include <cstdint>

enum : uint32_t {
    kCMTimeFlags_Valid = 1u << 0,
    kCMTimeFlags_HasBeenRounded = 1u << 1,
    kCMTimeFlags_PositiveInfinity = 1u << 2,
    kCMTimeFlags_NegativeInfinity = 1u << 3,
    kCMTimeFlags_Indefinite = 1u << 4,
};

struct CMTime {
    int64_t value = 0;
    int32_t timescale = 0;
    uint32_t flags = 0;
    int64_t epoch = 0;

    friend bool operator==(const CMTime&, const CMTime&) = default;
};

struct CMTimeRange {
    CMTime start;
    CMTime duration;

    friend bool operator==(const CMTimeRange&, const CMTimeRange&) = default;
};

extern const CMTime kCMTimeZero;
extern const CMTime kCMTimeInvalid;
extern const CMTime kCMTimePositiveInfinity;
extern const CMTime kCMTimeNegativeInfinity;

// A valid time of epoch 0. A timescale of 0 or below gives an invalid time.
CMTime CMTimeMake(int64_t value, int32_t timescale);

// The time in `preferredTimescale` nearest to `seconds`. NaN gives an invalid
// time; a value beyond the 64-bit range gives the infinity of its sign.
CMTime CMTimeMakeWithSeconds(double seconds, int32_t preferredTimescale);

bool CMTimeIsValid(CMTime time);
bool CMTimeIsNumeric(CMTime time);

// Negative, zero or positive as `a` lies before, at or after `b`, comparing
// the exact rational values across timescales. Invalid times compare equal to
// each other and after every valid time; infinities order as expected.
int32_t CMTimeCompare(CMTime a, CMTime b);

// Exact when the common timescale (the least common multiple) fits; otherwise
// the result is rounded into the larger timescale and flagged as rounded.
CMTime CMTimeAdd(CMTime a, CMTime b);
CMTime CMTimeSubtract(CMTime a, CMTime b);

// value ÷ timescale as a double; NaN for an invalid or indefinite time.
double CMTimeGetSeconds(CMTime time);

CMTimeRange CMTimeRangeMake(CMTime start, CMTime duration);
CMTime CMTimeRangeGetEnd(CMTimeRange range);
