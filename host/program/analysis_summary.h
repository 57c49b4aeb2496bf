#pragma once
// The analysis a project holds, in brief, as the info command shows it.
#include <cstdint>
#include <optional>
#include <string>

#include "host/parameter_document.h"
#include "platform/coremedia/cmtime.h"

namespace kv::host {

struct AnalysisSummary {
    // What the analysis parameters hold.
    enum class Stored { nothing, unreadable, analysis } stored = Stored::nothing;
    std::string problem;  // why it is unreadable
    int64_t imageWidth = 0;
    int64_t imageHeight = 0;
    int64_t samples = 0;
    CMTime firstTime = kCMTimeInvalid;
    CMTime lastTime = kCMTimeInvalid;
    int64_t fewestBoxes = 0;
    int64_t mostBoxes = 0;
    double meanBoxes = 0;
    // The stored hash is that of the stored data.
    bool hashMatches = false;
};

// The analysis held in the effect's analysis parameters (its data and its hash).
AnalysisSummary summarizeAnalysis(const ParameterDocument& document);

// The summary as lines of text, each ending in a newline.
std::string summaryText(const AnalysisSummary& summary);

}  // namespace kv::host
