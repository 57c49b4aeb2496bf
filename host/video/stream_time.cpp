#include "host/video/stream_time.h"

#include <limits>

namespace kv {

std::optional<CMTime> streamTime(int64_t ticks, int32_t num, int32_t den) {
    if (num <= 0 || den <= 0) return std::nullopt;
    int64_t value = 0;
    if (__builtin_mul_overflow(ticks, static_cast<int64_t>(num), &value)) return std::nullopt;
    return CMTimeMake(value, den);
}

std::optional<int64_t> streamTicksAtOrBefore(CMTime time, int32_t num, int32_t den) {
    if (num <= 0 || den <= 0 || !CMTimeIsValid(time)) return std::nullopt;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    if (time.flags & kCMTimeFlags_PositiveInfinity) return kMax;
    if (time.flags & kCMTimeFlags_NegativeInfinity) return kMin;
    if (!CMTimeIsNumeric(time)) return std::nullopt;
    // ticks = floor(value·den / (timescale·num)), in 128 bits so nothing overflows.
    const __int128 numerator = static_cast<__int128>(time.value) * den;
    const __int128 denominator = static_cast<__int128>(time.timescale) * num;
    __int128 ticks = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0) --ticks;
    if (ticks > kMax) return kMax;
    if (ticks < kMin) return kMin;
    return static_cast<int64_t>(ticks);
}

CMTime frameDurationForRate(int32_t rateNum, int32_t rateDen) {
    if (rateNum <= 0 || rateDen <= 0) return kCMTimeInvalid;
    return CMTimeMake(rateDen, rateNum);
}

}  // namespace kv
