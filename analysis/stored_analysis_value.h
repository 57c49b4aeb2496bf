#pragma once
// The stored form of an analysis, as the values of two custom parameters,
// each a dictionary with one entry. "Analysis Data" holds the analysis as
// JSON under "AnalysisData"; "Analysis Hash" holds, under "AnalysisHash",
// the text of the SHA-256 digest of exactly those JSON bytes. The effect
// writes and reads these values, and the host reads them to describe a
// project, both through the functions here.
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "analysis/motion_types.h"
#include "platform/fxplug/fx_value.h"

namespace kv {

// The keys the writer accepts; only AnalysisData and AnalysisHash are used.
enum class AnalysisKey { FrameDuration, AnalysisData, FrameCountAnalyzed, AnalysisHash };

std::string_view analysisKeyText(AnalysisKey key);

// "SHA256 digest: " and the 64 lowercase hex digits of the digest of `bytes`.
std::string analysisHashText(std::string_view bytes);

// Why a parameter's value gives no stored bytes: it holds no object, an
// object that is not a dictionary, or a dictionary without data under the key.
enum class StoredEntryFault { noObject, notDictionary, noData };

// What the data parameter's value holds: the JSON bytes (which live as long
// as the value) and their decoding.
struct StoredAnalysisData {
    std::string_view json;
    Result<MotionAnalysis> analysis;
};

std::variant<StoredEntryFault, StoredAnalysisData> readStoredAnalysisData(const std::optional<FxValue>& value);

// The hash text the hash parameter's value holds; none without one, or when
// its bytes are not UTF-8 text.
std::optional<std::string> readStoredAnalysisHash(const std::optional<FxValue>& value);

}  // namespace kv
