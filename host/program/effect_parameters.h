#pragma once
// The few parameters of the effect the host program works with itself, by
// the ids the effect creates them under (the ids are the effect's contract
// with stored projects). All else the program learns from the parameters
// the effect created.
#include <cstdint>

namespace kv::host::effect_parameter {

// The "Analyze Clip" push button.
inline constexpr uint32_t analyzeButton = 10;
// The custom parameters that store the analysis and its hash.
inline constexpr uint32_t analysisData = 4;
inline constexpr uint32_t analysisHash = 5;
// The "Enable" toggle.
inline constexpr uint32_t enable = 70;

}  // namespace kv::host::effect_parameter
