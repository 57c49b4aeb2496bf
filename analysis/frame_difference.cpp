// Frame differencing entry: the scan over all points on every core, the
// records merged in scan order, and the release of the result.
#include "analysis/frame_difference.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/frame_difference_engine.h"
#include "platform/dispatch/dispatch.h"

namespace kv::fd {
namespace {

constexpr int64_t kParallelPoints = 2000;

std::atomic<const Engine*> gPinnedEngine{nullptr};

// Handed out when the result array cannot be allocated, so callers always get
// a terminated array; the release function recognises it.
MotionOffsetTile gEmptyResult{};

// Each scan row writes its points into its own slice of `staged` (untouched
// slices cost no memory); the slices are then taken in row order, as many as
// the result has room for, so the records come out in scan order.
size_t scanAll(const Frames& frames, uint8_t* mask, MotionOffsetTile* tiles, size_t room) {
    const Engine& engine = activeEngine();
    const int32_t rows = scanRows(frames.height), columns = scanColumns(frames.width);
    std::unique_ptr<FoundPoint[]> staged(new (std::nothrow) FoundPoint[static_cast<size_t>(rows) * columns]);
    std::unique_ptr<int32_t[]> foundInRow(new (std::nothrow) int32_t[rows]);
    if (!staged || !foundInRow) return 0;
    // Small frames are not worth waking the other cores for; otherwise each
    // scan row is a piece of work of its own, as rows differ much in cost.
    const bool parallel = static_cast<int64_t>(rows) * columns >= kParallelPoints;
    dispatch::concurrentPerform(static_cast<size_t>(rows), parallel ? 1 : static_cast<size_t>(rows),
                                [&](size_t begin, size_t end) {
                                    for (size_t n = begin; n < end; ++n) {
                                        foundInRow[n] = engine.scanRow(frames, kScanMargin + int32_t(n) * kScanStep,
                                                                       &staged[n * columns]);
                                    }
                                });

    size_t count = 0;
    uint8_t scratch[kWindowSide * kWindowSide];
    for (int32_t n = 0; n < rows && count < room; ++n) {
        const FoundPoint* row = &staged[static_cast<size_t>(n) * columns];
        const size_t taken = std::min(static_cast<size_t>(foundInRow[n]), room - count);
        for (size_t i = 0; i < taken; ++i) {
            tiles[count++] = row[i].tile;
            if (!mask) continue;
            // Write the window bits of the stored point at its final shift.
            TileSearchParams params{};
            params.width = frames.width;
            params.height = frames.height;
            params.halfWindow = kHalfWindow;
            params.maxIterations = kMaxIterations;
            params.ratioFactor = kRatioFactor;
            params.row = static_cast<size_t>(row[i].row);
            params.col = static_cast<size_t>(row[i].col);
            params.dx = row[i].dx;
            params.dy = row[i].dy;
            tryCorrelateOffset(frames.f1, frames.f2, mask, scratch, &params);
        }
    }
    return count;
}

}  // namespace

const Engine& activeEngine() {
    if (const Engine* pinned = gPinnedEngine.load(std::memory_order_acquire)) return *pinned;
    static const Engine& fastest = avx2Engine() ? *avx2Engine() : genericEngine();
    return fastest;
}

void pinEngine(const Engine* engine) { gPinnedEngine.store(engine, std::memory_order_release); }

}  // namespace kv::fd

extern "C" {

MotionOffsetTile* LowLevel_MotionDetectionTakeDifference(const float* f1, const float* f2, uint8_t* mask,
                                                         int32_t width, int32_t height) {
    const size_t room =
        (width > 0 && height > 0) ? static_cast<size_t>(width / 10) * static_cast<size_t>(height / 10) : 0;
    auto* tiles = static_cast<MotionOffsetTile*>(std::malloc(sizeof(MotionOffsetTile) * (room + 1)));
    if (!tiles) return &kv::fd::gEmptyResult;
    size_t count = 0;
    if (f1 && f2 && width > 2 * kv::fd::kScanMargin && height > 2 * kv::fd::kScanMargin)
        count = kv::fd::scanAll(kv::fd::Frames{f1, f2, width, height}, mask, tiles, room);
    std::memset(&tiles[count], 0, sizeof(MotionOffsetTile));
    return tiles;
}

void LowLevel_ReleaseMotionOffsetTile(MotionOffsetTile* tiles) {
    if (tiles != &kv::fd::gEmptyResult) std::free(tiles);
}

int floatComparator(const void* a, const void* b) {
    const float x = *static_cast<const float*>(a), y = *static_cast<const float*>(b);
    if (x > y) return 1;
    if (x < y) return -1;
    return 0;
}

// An array without elements has no least or greatest value: NaN.
float minArr(const float* values, int32_t n) {
    if (!values || n < 1) return NAN;
    float least = values[0];
    for (int32_t i = 1; i < n; ++i)
        if (values[i] < least) least = values[i];
    return least;
}

float maxArr(const float* values, int32_t n) {
    if (!values || n < 1) return NAN;
    float greatest = values[0];
    for (int32_t i = 1; i < n; ++i)
        if (values[i] > greatest) greatest = values[i];
    return greatest;
}

}  // extern "C"
