#include "analysis/stored_analysis_value.h"

#include "platform/cryptokit/sha256.h"
#include "platform/foundation/utf8.h"

namespace kv {
namespace {

// The bytes under `key` of the dictionary the value holds, or why there are none.
std::variant<StoredEntryFault, std::string_view> entry(const std::optional<FxValue>& value, AnalysisKey key) {
    if (!value) return StoredEntryFault::noObject;
    const NSDictionary* dictionary = value->dictionary();
    if (!dictionary) return StoredEntryFault::notDictionary;
    const auto found = dictionary->find(analysisKeyText(key));
    const NSData* bytes = found == dictionary->end() ? nullptr : found->second.data();
    if (!bytes) return StoredEntryFault::noData;
    return textFromData(*bytes);
}

}  // namespace

std::string_view analysisKeyText(AnalysisKey key) {
    switch (key) {
        case AnalysisKey::FrameDuration: return "FrameDuration";
        case AnalysisKey::AnalysisData: return "AnalysisData";
        case AnalysisKey::FrameCountAnalyzed: return "FrameCountAnalyzed";
        case AnalysisKey::AnalysisHash: return "AnalysisHash";
    }
    return "";
}

std::string analysisHashText(std::string_view bytes) { return SHA256::hash(bytes).description(); }

std::variant<StoredEntryFault, StoredAnalysisData> readStoredAnalysisData(const std::optional<FxValue>& value) {
    const auto bytes = entry(value, AnalysisKey::AnalysisData);
    if (const auto* fault = std::get_if<StoredEntryFault>(&bytes)) return *fault;
    const std::string_view json = std::get<std::string_view>(bytes);
    return StoredAnalysisData{json, decodeMotionAnalysisText(json)};
}

std::optional<std::string> readStoredAnalysisHash(const std::optional<FxValue>& value) {
    const auto bytes = entry(value, AnalysisKey::AnalysisHash);
    const auto* text = std::get_if<std::string_view>(&bytes);
    if (!text || !isValidUtf8(*text)) return std::nullopt;
    return std::string(*text);
}

}  // namespace kv
