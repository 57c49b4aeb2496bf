#pragma once
// Running the program's commands in this process, reading what a project
// holds, and skipping the tests that need the effect's analysis while the
// effect does not analyse.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analysis/motion_types.h"
#include "tests/video/video_test_support.h"

namespace kv::testing {

struct ProgramResult {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramResult runInProcess(const std::vector<std::string>& arguments);

// A new project of the effect with default values and no analysis.
void createProject(const std::filesystem::path& path);

// The analysis a project stores, and whether its hash is that of its data.
struct StoredAnalysis {
    MotionAnalysis analysis;
    bool hashMatches = false;
};
std::optional<StoredAnalysis> storedAnalysis(const std::filesystem::path& project);

// True when the effect refused to analyse (it answered NO to the analysis
// entries), so that a test can skip what needs an analysis.
bool effectCannotAnalyze(const ProgramResult& result);

#define KV_SKIP_IF_EFFECT_CANNOT_ANALYZE(result)                                                      \
    if (kv::testing::effectCannotAnalyze(result))                                                     \
    GTEST_SKIP() << "the effect does not analyse clips in this build (it refused the analysis run): " \
                 << (result).err

}  // namespace kv::testing
