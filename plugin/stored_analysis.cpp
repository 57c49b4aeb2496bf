// The effect's stored analysis: saving the detector's result into the two
// custom parameters, reading it back, and the cache of decoded analyses.
// hashLock and configLock are taken one at a time and never across a host
// call, so readers on render threads never wait on the host.
#include "plugin/stored_analysis.h"

#include "platform/foundation/log.h"
#include "platform/foundation/utf8.h"
#include "plugin/kestrelvantage_plugin.h"
#include "plugin/parameter_set.h"

namespace kv {
namespace {

// What the log says when the data parameter gives no bytes.
const char* faultLogLine(StoredEntryFault fault) {
    switch (fault) {
        case StoredEntryFault::noObject: return "Well, p is nil";
        case StoredEntryFault::notDictionary: return "No JSON result";
        case StoredEntryFault::noData: return "No result key";
    }
    return "";
}

}  // namespace

Result<void> KestrelvantagePlugIn::writeAnalysisParameters(uint32_t parameterID, AnalysisKey key,
                                                           const NSData& value) {
    const NSDictionary entry{{std::string(analysisKeyText(key)), FxValue(value)}};
    const auto api = hostService<FxParameterSettingAPI_v5>();
    if (!api) return SaveError::apiError("Could not fetch FxParameterSettingAPI").error();
    // A refusal by the host goes unnoticed, as with every setter.
    api->setCustomParameterValue(FxValue(entry), parameterID, kCMTimeZero);
    return {};
}

// The hash goes first: a reader that finds the new hash but still the old
// data decodes that data and caches it under the data's own hash, so no
// reader ever pairs a hash with an analysis it does not name.
Result<void> KestrelvantagePlugIn::saveAnalysis() {
    const MotionAnalysis& result = context.result;
    auto saved = std::make_shared<const MotionAnalysis>(MotionAnalysis{result.firstFrameTime, result.lastFrameTime,
                                                                       result.frameDuration, result.imageWidth,
                                                                       result.imageHeight, samplesToSave()});
    const auto json = encodeMotionAnalysisText(*saved);
    if (!json) return json.error();
    const std::string hash = analysisHashText(*json);

    if (const auto old = readAnalysisHash()) {
        {
            std::lock_guard guard(hashLock);
            hashMap.erase(*old);
            hashMap.insert_or_assign(hash, std::move(saved));
        }
        std::lock_guard guard(configLock);
        configMap.erase(*old);
        ++configGeneration;
    }

    if (auto written = writeAnalysisParameters(param::analysisHash, AnalysisKey::AnalysisHash, dataFromText(hash));
        !written) {
        return written;
    }
    return writeAnalysisParameters(param::analysisData, AnalysisKey::AnalysisData, dataFromText(*json));
}

std::optional<std::string> KestrelvantagePlugIn::readAnalysisHash() {
    const auto api = hostService<FxParameterRetrievalAPI_v6>();
    if (!api) return std::nullopt;
    std::optional<FxValue> value;
    api->getCustomParameterValue(&value, param::analysisHash, storedAnalysisReadTime());
    return readStoredAnalysisHash(value);
}

std::optional<MotionAnalysis> KestrelvantagePlugIn::readAnalysisData() {
    const std::shared_ptr<const MotionAnalysis> analysis = sharedAnalysisData();
    if (!analysis) return std::nullopt;
    return *analysis;
}

std::shared_ptr<const MotionAnalysis> KestrelvantagePlugIn::sharedAnalysisData() {
    if (const auto hash = readAnalysisHash()) {
        std::lock_guard guard(hashLock);
        if (const auto cached = hashMap.find(*hash); cached != hashMap.end()) return cached->second;
    }

    const auto api = hostService<FxParameterRetrievalAPI_v6>();
    std::optional<FxValue> value;
    if (api) api->getCustomParameterValue(&value, param::analysisData, storedAnalysisReadTime());
    auto stored = readStoredAnalysisData(value);
    if (const auto* fault = std::get_if<StoredEntryFault>(&stored)) {
        NSLog(faultLogLine(*fault));
        return nullptr;
    }
    auto& [text, decoded] = std::get<StoredAnalysisData>(stored);
    if (!decoded) {
        NSLog("JSON: " + (isValidUtf8(text) ? std::string(text) : std::string("N/A")));
        NSLog("Error decoding JSON: " + decoded.error().message);
        return nullptr;
    }
    // Cached under the hash of what was decoded: the stored hash may not
    // name these bytes.
    const std::string hash = analysisHashText(text);
    auto analysis = std::make_shared<const MotionAnalysis>(std::move(decoded).value());
    std::lock_guard guard(hashLock);
    hashMap.insert_or_assign(hash, analysis);
    return analysis;
}

}  // namespace kv
