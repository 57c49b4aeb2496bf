#pragma once
// The stored form of an analysis: two custom parameters, each holding a
// dictionary with one entry. "Analysis Data" holds the analysis as JSON under
// "AnalysisData"; "Analysis Hash" holds, under "AnalysisHash", the text of
// the SHA-256 digest of exactly those JSON bytes. The hash text is the
// analysis's identity: it keys the caches of decoded analyses and settings.
#include <string>
#include <string_view>

#include "platform/coremedia/cmtime.h"

namespace kv {

// The keys the writer accepts; only AnalysisData and AnalysisHash are used.
enum class AnalysisKey { FrameDuration, AnalysisData, FrameCountAnalyzed, AnalysisHash };

std::string_view analysisKeyText(AnalysisKey key);

// "SHA256 digest: " and the 64 lowercase hex digits of the digest of `bytes`.
std::string analysisHashText(std::string_view bytes);

// Both parameters are read at time zero in timescale 30.
inline CMTime storedAnalysisReadTime() { return CMTimeMake(0, 30); }

}  // namespace kv
