#pragma once
// The framing settings as the effect's parameters give them at a time, and
// the per-analysis cache that spares the host the same questions on every
// frame.
#include <cstddef>
#include <cstdint>

#include "analysis/frame_config.h"

namespace kv {

// A timescale's entries are dropped together once it holds this many.
inline constexpr size_t kMaxCachedSettingsPerTimescale = 3600;


// One setting read from a float parameter.
struct FloatSetting {
    double FrameConfig::*field;
    uint32_t parameterID;
};

// The 23 settings in the order in which they are read.
inline constexpr size_t kFloatSettingCount = 23;
extern const FloatSetting kFloatSettings[kFloatSettingCount];

}  // namespace kv
