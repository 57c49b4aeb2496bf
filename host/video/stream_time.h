#pragma once
// Exact conversions between a video stream's rational time base and CMTime.
#include <cstdint>
#include <optional>

#include "platform/coremedia/cmtime.h"

namespace kv {

// `ticks` units of num/den second as a CMTime of timescale `den`: the value is
// ticks·num. Empty when den or num is not positive or ticks·num overflows.
std::optional<CMTime> streamTime(int64_t ticks, int32_t num, int32_t den);

// The inverse: the last tick of num/den second at or before `time` (rounded
// down so a seek never lands after the time asked for). Saturates at the
// 64-bit range; empty for a time that is not numeric or a bad time base.
std::optional<int64_t> streamTicksAtOrBefore(CMTime time, int32_t num, int32_t den);

// The length of one frame at `rateNum`/`rateDen` frames a second, e.g. 1001/30000
// for 30000/1001. Invalid when the rate is not positive.
CMTime frameDurationForRate(int32_t rateNum, int32_t rateDen);

}  // namespace kv
