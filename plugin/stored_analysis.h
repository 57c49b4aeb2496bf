#pragma once
// The effect's stored analysis, in the two custom parameters whose values
// analysis/stored_analysis_value.h reads. The hash text is the analysis's
// identity: it keys the caches of decoded analyses and settings.
#include "analysis/stored_analysis_value.h"
#include "platform/coremedia/cmtime.h"

namespace kv {

// Both parameters are read at time zero in timescale 30.
inline CMTime storedAnalysisReadTime() { return CMTimeMake(0, 30); }

}  // namespace kv
