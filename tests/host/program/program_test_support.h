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
#include "tests/host/video/video_test_support.h"

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

// Why a test that needs the effect's analysis cannot run: the effect of this
// build refuses to analyse (it answers NO to the analysis entries). Empty
// when it analyses; found out once, with a short run over the synthetic clip.
std::string reasonEffectCannotAnalyze();

#define KV_SKIP_UNLESS_EFFECT_ANALYZES()                                          \
    if (const std::string why = kv::testing::reasonEffectCannotAnalyze(); !why.empty()) \
    GTEST_SKIP() << "the effect does not analyze clips in this build: " << why

}  // namespace kv::testing
