// The working functions of the frame differencing for one point, as callers
// outside the scan use them. The scan itself runs the batched engine.
#include <cstdint>

#include "analysis/frame_difference.h"
#include "analysis/frame_difference_engine.h"

namespace {

const float* pixelAt(const float* frame, int64_t width, int64_t row, int64_t col) {
    return frame + 4 * (row * width + col);
}

bool sizesUsable(const TileSearchParams& p) {
    return p.halfWindow >= 0 && p.halfWindow <= INT32_MAX / 4 && p.width > 0 && p.height > 0 &&
           p.row <= static_cast<size_t>(INT32_MAX) && p.col <= static_cast<size_t>(INT32_MAX);
}

// The point lies at least 2 x halfWindow inside every edge, which the window
// test needs to keep every read and mask write inside the frame.
bool pointInside(const TileSearchParams& p) {
    if (!sizesUsable(p)) return false;
    const int64_t k2 = 2 * int64_t{p.halfWindow};
    const auto row = static_cast<int64_t>(p.row), col = static_cast<int64_t>(p.col);
    return k2 <= row && row <= p.height - k2 - 1 && k2 <= col && col <= p.width - k2 - 1;
}

}  // namespace

extern "C" {

float scoreTileSymmetry(const float* frame, const TileSearchParams* params) {
    const TileSearchParams& p = *params;
    if (!frame || !sizesUsable(p)) return 0.0f;
    const int64_t k = p.halfWindow;
    const auto row = static_cast<int64_t>(p.row), col = static_cast<int64_t>(p.col);
    if (row < k || row + k > p.height || col < k || col + k > p.width) return 0.0f;
    return kv::fd::activeEngine().symmetryScore(frame, p.width, row, col, k);
}

void tryCorrelateOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch,
                        TileSearchParams* params) {
    TileSearchParams& p = *params;
    p.maskCount = p.displacedCount = p.inPlaceCount = 0;
    p.displacedDiffMean = p.inPlaceDiffMean = p.displacedEnergyMean = p.inPlaceEnergyMean = 0;
    if (!f1 || !f2 || !scratch || !pointInside(p)) return;
    const int64_t k = p.halfWindow, s = 2 * k, width = p.width, height = p.height;
    const auto row = static_cast<int64_t>(p.row), col = static_cast<int64_t>(p.col);
    const int64_t dx = p.dx, dy = p.dy;
    if (!(0 <= k + dy && k + dy <= row && row + k + dy <= height && 0 <= k + dx && k + dx <= col &&
          col + k + dx <= width))
        return;
    float displacedDiff = 0, displacedEnergy = 0, inPlaceDiff = 0, inPlaceEnergy = 0;
    int32_t displacedCount = 0, inPlaceCount = 0;
    for (int64_t i = 0; i < s; ++i) {
        for (int64_t j = 0; j < s; ++j) {
            const int64_t r = row - k + i, c = col - k + j;
            const int64_t rd = r - dy, cd = c - dx;
            const float* a = pixelAt(f1, width, r, c);
            const float* b = pixelAt(f2, width, r, c);
            const float* bd = pixelAt(f2, width, rd, cd);
            const float d0 = diffSqRgb(a, b);
            const float d1 = diffSqRgb(a, bd);
            const uint8_t bit = d1 > p.ratioFactor * d0 ? 1 : 0;
            scratch[i * s + j] = bit;
            if (mask) mask[rd * width + cd] = bit;
            if (d1 > d0) {
                ++displacedCount;
                displacedDiff = displacedDiff + d1;
                displacedEnergy = displacedEnergy + sqRgb(bd);
            } else {
                ++inPlaceCount;
                inPlaceDiff = inPlaceDiff + d0;
                inPlaceEnergy = inPlaceEnergy + sqRgb(b);
            }
        }
    }
    int32_t maskCount = 0;
    for (int64_t i = 1; i <= s - 2; ++i) {
        for (int64_t j = 1; j <= s - 2; ++j) {
            const int around = scratch[(i - 1) * s + j] + scratch[(i + 1) * s + j] + scratch[i * s + j - 1] +
                               scratch[i * s + j + 1];
            if (scratch[i * s + j] && around >= 3) ++maskCount;
        }
    }
    p.maskCount = maskCount;
    p.displacedCount = displacedCount;
    p.inPlaceCount = inPlaceCount;
    if (displacedCount > 0) {
        p.displacedDiffMean = displacedDiff / static_cast<float>(displacedCount);
        p.displacedEnergyMean = displacedEnergy / static_cast<float>(displacedCount);
    }
    if (inPlaceCount > 0) {
        p.inPlaceDiffMean = inPlaceDiff / static_cast<float>(inPlaceCount);
        p.inPlaceEnergyMean = inPlaceEnergy / static_cast<float>(inPlaceCount);
    }
}

void findBestOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch, TileSearchParams* params) {
    static const int32_t kSteps[8][2] = {{0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}};
    TileSearchParams& p = *params;
    p.dx = p.dy = 0;
    p.displacedCount = p.inPlaceCount = 0;
    tryCorrelateOffset(f1, f2, nullptr, scratch, &p);
    if (p.inPlaceEnergyMean < 1e-12f) return;
    TileSearchParams best = p;
    for (int32_t iteration = 0; iteration < p.maxIterations; ++iteration) {
        float ratioToBeat = (best.dx != 0 || best.dy != 0) ? best.displacedDiffMean / best.displacedEnergyMean
                                                           : best.inPlaceDiffMean / best.inPlaceEnergyMean;
        bool accepted = false;
        for (const auto& step : kSteps) {
            TileSearchParams candidate = best;
            candidate.dx += step[0];
            candidate.dy += step[1];
            tryCorrelateOffset(f1, f2, nullptr, scratch, &candidate);
            const float ratio = candidate.displacedDiffMean / candidate.displacedEnergyMean;
            if (candidate.displacedCount >= p.halfWindow && ratio < ratioToBeat) {
                best = candidate;
                ratioToBeat = ratio;
                accepted = true;
            }
        }
        if (!accepted) break;
        p = best;
    }
    if (mask && p.displacedCount >= p.halfWindow) {
        TileSearchParams copy = p;
        tryCorrelateOffset(f1, f2, mask, scratch, &copy);
    }
}

}  // extern "C"
