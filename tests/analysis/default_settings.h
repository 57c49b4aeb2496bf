#pragma once
// The framing settings the effect reads when every parameter is at its
// default, for tests and benchmarks of the reframing.
#include "analysis/frame_config.h"

namespace kv::testing {

inline FrameConfig defaultSettings() { return startingFrameConfig(); }

}  // namespace kv::testing
