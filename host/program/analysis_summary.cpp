#include "host/program/analysis_summary.h"

#include <algorithm>

#include "analysis/stored_analysis_value.h"
#include "host/program/effect_parameters.h"
#include "host/program/time_text.h"

namespace kv::host {
namespace {

// How many motion boxes the samples hold: "2 in each sample", or
// "0 to 3 per sample, 1.25 on average".
std::string boxesText(const AnalysisSummary& s) {
    if (s.mostBoxes == 0) return "none in any sample";
    if (s.fewestBoxes == s.mostBoxes) return std::to_string(s.mostBoxes) + " in each sample";
    return std::to_string(s.fewestBoxes) + " to " + std::to_string(s.mostBoxes) + " per sample, " +
           roundedText(s.meanBoxes, 2) + " on average";
}

}  // namespace

AnalysisSummary summarizeAnalysis(const ParameterDocument& document) {
    AnalysisSummary summary;
    const auto dataValue = document.customValue(effect_parameter::analysisData);
    const auto stored = readStoredAnalysisData(dataValue);
    const auto* data = std::get_if<StoredAnalysisData>(&stored);
    if (!data) return summary;
    summary.hashMatches =
        readStoredAnalysisHash(document.customValue(effect_parameter::analysisHash)) == analysisHashText(data->json);

    const Result<MotionAnalysis>& analysis = data->analysis;
    if (!analysis) {
        summary.stored = AnalysisSummary::Stored::unreadable;
        summary.problem = analysis.error().message;
        return summary;
    }
    summary.stored = AnalysisSummary::Stored::analysis;
    summary.imageWidth = analysis->imageWidth;
    summary.imageHeight = analysis->imageHeight;
    const auto& samples = analysis->motionBounds;
    summary.samples = int64_t(samples.size());
    if (samples.empty()) return summary;
    summary.firstTime = samples.front().time;
    summary.lastTime = samples.back().time;
    summary.fewestBoxes = summary.mostBoxes = int64_t(samples.front().bounds.size());
    int64_t boxes = 0;
    for (const MotionBounds& sample : samples) {
        const int64_t count = int64_t(sample.bounds.size());
        summary.fewestBoxes = std::min(summary.fewestBoxes, count);
        summary.mostBoxes = std::max(summary.mostBoxes, count);
        boxes += count;
    }
    summary.meanBoxes = double(boxes) / double(samples.size());
    return summary;
}

std::string summaryText(const AnalysisSummary& s) {
    if (s.stored == AnalysisSummary::Stored::nothing) return "Analysis:   none stored\n";
    std::string text;
    if (s.stored == AnalysisSummary::Stored::unreadable) {
        text = "Analysis:   stored, but cannot be decoded: " + s.problem + "\n";
    } else {
        text = "Analysis:   " + std::to_string(s.imageWidth) + "x" + std::to_string(s.imageHeight) + ", " +
               std::to_string(s.samples) + (s.samples == 1 ? " sample" : " samples");
        if (s.samples == 1) text += " at " + secondsText(s.firstTime);
        if (s.samples > 1) text += " from " + secondsText(s.firstTime) + " to " + secondsText(s.lastTime);
        text += "\n";
        if (s.samples > 0) text += "Boxes:      " + boxesText(s) + "\n";
    }
    text += std::string("Hash:       ") + (s.hashMatches ? "matches the stored data" : "does not match the stored data") +
            "\n";
    return text;
}

}  // namespace kv::host
