#include "host/program/project_media.h"

#include <system_error>

#include "host/program/analysis_summary.h"
#include "host/program/effect_parameters.h"

namespace kv::host {
namespace {

// Two names of one file count as the same media.
bool sameMedia(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code code;
    return std::filesystem::equivalent(a, b, code) && !code;
}

std::string sizeText(int64_t width, int64_t height) { return std::to_string(width) + "x" + std::to_string(height); }

// checkProjectMedia for an analysis summarised already.
Result<void> checkSummary(const std::filesystem::path& project, const ProjectHeader& header,
                          const AnalysisSummary& stored, const std::string& media, int64_t width, int64_t height) {
    // Without samples there is nothing to mix up.
    if (stored.stored != AnalysisSummary::Stored::analysis || stored.samples == 0) return {};
    const bool otherMedia = !header.media.empty() && !sameMedia(header.media, media);
    const bool otherSize = stored.imageWidth != width || stored.imageHeight != height;
    if (!otherMedia && !otherSize) return {};
    const std::string storedMedia = header.media.empty() ? "an unnamed video" : header.media;
    return Error{"The project " + project.string() + " holds the analysis of " + storedMedia + " (" +
                 sizeText(stored.imageWidth, stored.imageHeight) + "), not of " + media + " (" +
                 sizeText(width, height) + ")."};
}

}  // namespace

std::string mediaName(const std::optional<std::filesystem::path>& video) {
    if (!video) return "synthetic clip";
    std::error_code code;
    return std::filesystem::absolute(*video, code).string();
}

Result<void> checkProjectMedia(const std::filesystem::path& project, const ProjectHeader& header,
                               const ParameterDocument& document, const std::string& media, int64_t width,
                               int64_t height) {
    return checkSummary(project, header, summarizeAnalysis(document), media, width, height);
}

Result<void> checkAnalysisToContinue(const std::filesystem::path& project, const ProjectHeader& header,
                                     const ParameterDocument& document, const std::string& media, int64_t width,
                                     int64_t height) {
    const AnalysisSummary stored = summarizeAnalysis(document);
    if (stored.stored == AnalysisSummary::Stored::unreadable) {
        return Error{"The project " + project.string() + " holds an analysis that cannot be decoded (" +
                     stored.problem + "); a run would replace all of it with the samples of its own range."};
    }
    return checkSummary(project, header, stored, media, width, height);
}

void clearStoredAnalysis(ParameterDocument& document) {
    for (uint32_t id : {effect_parameter::analysisData, effect_parameter::analysisHash}) {
        const auto definition = document.parameter(id);
        if (!definition) continue;
        if (const FxValue* value = std::get_if<FxValue>(&definition->defaultValue)) {
            document.setCustomValue(id, *value);
        }
    }
}

}  // namespace kv::host
