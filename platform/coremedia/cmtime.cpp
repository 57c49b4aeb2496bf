#include "platform/coremedia/cmtime.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>

#include "platform/foundation/number_cast.h"

namespace {

using Int128 = __int128;

constexpr uint32_t kInfinityFlags = kCMTimeFlags_PositiveInfinity | kCMTimeFlags_NegativeInfinity;
constexpr uint32_t kNonNumericFlags = kInfinityFlags | kCMTimeFlags_Indefinite;

bool fitsInt64(Int128 v) {
    return v >= std::numeric_limits<int64_t>::min() && v <= std::numeric_limits<int64_t>::max();
}

// Rounds n / d (d > 0) to the nearest integer, halves away from zero.
Int128 roundedQuotient(Int128 n, Int128 d) {
    Int128 q = n / d;
    Int128 r = n % d;
    if (2 * (r < 0 ? -r : r) >= d) q += (n < 0) ? -1 : 1;
    return q;
}

CMTime infinityOfSign(bool negative) {
    return negative ? kCMTimeNegativeInfinity : kCMTimePositiveInfinity;
}

// Adds b·sign to a; sign is +1 or -1.
CMTime combine(CMTime a, CMTime b, int sign) {
    if (!CMTimeIsValid(a) || !CMTimeIsValid(b)) return kCMTimeInvalid;
    if ((a.flags | b.flags) & kCMTimeFlags_Indefinite) {
        CMTime t = kCMTimeInvalid;
        t.flags = kCMTimeFlags_Valid | kCMTimeFlags_Indefinite;
        return t;
    }
    const bool aInf = a.flags & kInfinityFlags;
    const bool bInf = b.flags & kInfinityFlags;
    if (aInf || bInf) {
        const bool aNeg = a.flags & kCMTimeFlags_NegativeInfinity;
        const bool bNeg = (b.flags & kCMTimeFlags_NegativeInfinity) ? sign > 0 : sign < 0;
        if (aInf && bInf && aNeg != bNeg) {
            CMTime t = kCMTimeInvalid;
            t.flags = kCMTimeFlags_Valid | kCMTimeFlags_Indefinite;
            return t;
        }
        return infinityOfSign(aInf ? aNeg : bNeg);
    }
    // A numeric time needs a positive timescale; one made by hand without it
    // has no value to add (and would divide by zero below).
    if (a.timescale <= 0 || b.timescale <= 0) return kCMTimeInvalid;

    const int64_t lcm = std::lcm(static_cast<int64_t>(a.timescale), static_cast<int64_t>(b.timescale));
    if (lcm <= std::numeric_limits<int32_t>::max()) {
        const Int128 sum = Int128(a.value) * (lcm / a.timescale) + sign * (Int128(b.value) * (lcm / b.timescale));
        if (fitsInt64(sum)) {
            CMTime t = CMTimeMake(static_cast<int64_t>(sum), static_cast<int32_t>(lcm));
            t.epoch = a.epoch;
            return t;
        }
        return infinityOfSign(sum < 0);
    }

    // No common timescale fits: round into the larger one.
    const int32_t scale = a.timescale > b.timescale ? a.timescale : b.timescale;
    const Int128 sum = roundedQuotient(Int128(a.value) * scale, a.timescale) +
                       sign * roundedQuotient(Int128(b.value) * scale, b.timescale);
    if (!fitsInt64(sum)) return infinityOfSign(sum < 0);
    CMTime t = CMTimeMake(static_cast<int64_t>(sum), scale);
    t.flags |= kCMTimeFlags_HasBeenRounded;
    t.epoch = a.epoch;
    return t;
}

}  // namespace

const CMTime kCMTimeZero{0, 1, kCMTimeFlags_Valid, 0};
const CMTime kCMTimeInvalid{0, 0, 0, 0};
const CMTime kCMTimePositiveInfinity{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_PositiveInfinity, 0};
const CMTime kCMTimeNegativeInfinity{0, 0, kCMTimeFlags_Valid | kCMTimeFlags_NegativeInfinity, 0};

CMTime CMTimeMake(int64_t value, int32_t timescale) {
    if (timescale <= 0) return kCMTimeInvalid;
    return CMTime{value, timescale, kCMTimeFlags_Valid, 0};
}

CMTime CMTimeMakeWithSeconds(double seconds, int32_t preferredTimescale) {
    if (std::isnan(seconds) || preferredTimescale <= 0) return kCMTimeInvalid;
    const long double scaled = static_cast<long double>(seconds) * preferredTimescale;
    const long double rounded = std::roundl(scaled);
    if (!kv::fitsInInt64(rounded)) return infinityOfSign(seconds < 0);
    CMTime t = CMTimeMake(static_cast<int64_t>(rounded), preferredTimescale);
    if (rounded != scaled) t.flags |= kCMTimeFlags_HasBeenRounded;
    return t;
}

bool CMTimeIsValid(CMTime time) { return (time.flags & kCMTimeFlags_Valid) != 0; }

bool CMTimeIsNumeric(CMTime time) {
    return CMTimeIsValid(time) && (time.flags & kNonNumericFlags) == 0;
}

int32_t CMTimeCompare(CMTime a, CMTime b) {
    // Rank the kinds of time: -inf < numeric < +inf < indefinite < invalid.
    auto rank = [](CMTime t) {
        if (!CMTimeIsValid(t)) return 4;
        if (t.flags & kCMTimeFlags_Indefinite) return 3;
        if (t.flags & kCMTimeFlags_PositiveInfinity) return 2;
        if (t.flags & kCMTimeFlags_NegativeInfinity) return 0;
        return 1;
    };
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb ? -1 : 1;
    if (ra != 1) return 0;
    const Int128 lhs = Int128(a.value) * b.timescale;
    const Int128 rhs = Int128(b.value) * a.timescale;
    return lhs < rhs ? -1 : (lhs > rhs ? 1 : 0);
}

CMTime CMTimeAdd(CMTime a, CMTime b) { return combine(a, b, +1); }

CMTime CMTimeSubtract(CMTime a, CMTime b) { return combine(a, b, -1); }

double CMTimeGetSeconds(CMTime time) {
    if (!CMTimeIsValid(time) || (time.flags & kCMTimeFlags_Indefinite)) return std::nan("");
    if (time.flags & kCMTimeFlags_PositiveInfinity) return std::numeric_limits<double>::infinity();
    if (time.flags & kCMTimeFlags_NegativeInfinity) return -std::numeric_limits<double>::infinity();
    return static_cast<double>(time.value) / static_cast<double>(time.timescale);
}

CMTimeRange CMTimeRangeMake(CMTime start, CMTime duration) { return CMTimeRange{start, duration}; }

CMTime CMTimeRangeGetEnd(CMTimeRange range) { return CMTimeAdd(range.start, range.duration); }
