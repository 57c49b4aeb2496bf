#pragma once
// The scan of the frame differencing, per scan row, built twice from one
// source: once for any CPU and once for x86 CPUs with AVX2 and FMA. Both give
// the same bits; the entry picks the fast one when the CPU has it.
#include <cstddef>
#include <cstdint>

#include "analysis/frame_difference.h"

namespace kv::fd {

constexpr int32_t kHalfWindow = 10;
constexpr int32_t kWindowSide = 2 * kHalfWindow;
constexpr int32_t kMaxIterations = 25;
constexpr float kRatioFactor = 0.2f;
constexpr int32_t kScanMargin = 20;
constexpr int32_t kScanStep = 5;

// A stored point: its record and what the mask pass needs to redo its window.
struct FoundPoint {
    MotionOffsetTile tile;
    int32_t row;
    int32_t col;
    int32_t dx;
    int32_t dy;
};

struct Frames {
    const float* f1;
    const float* f2;
    int32_t width;
    int32_t height;
};

struct Engine {
    const char* name;
    // Scans one row of points (width > 40, height > 40, 20 <= row < height - 20)
    // and writes the points that pass, in column order, to `out`, which has
    // room for scanColumns(width) of them. Returns how many it wrote.
    int32_t (*scanRow)(const Frames& frames, int32_t row, FoundPoint* out);
    // scoreTileSymmetry of a point with halfWindow k; the quadrants must lie
    // inside the frame.
    float (*symmetryScore)(const float* frame, int64_t width, int64_t row, int64_t col, int64_t k);
};

const Engine& genericEngine();
// Null when the CPU (or the build) lacks AVX2 and FMA.
const Engine* avx2Engine();
// The fastest engine this CPU runs; tests may pin another one.
const Engine& activeEngine();
void pinEngine(const Engine* engine);  // null: back to the fastest

inline int32_t scanColumns(int32_t width) {
    return width > 2 * kScanMargin ? (width - 2 * kScanMargin + kScanStep - 1) / kScanStep : 0;
}
inline int32_t scanRows(int32_t height) { return scanColumns(height); }

}  // namespace kv::fd
