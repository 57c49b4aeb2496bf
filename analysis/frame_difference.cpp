// Frame differencing: the scan over the grid of points and the per-point search.
#include "analysis/frame_difference.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kHalfWindow = 10;
constexpr int32_t kMaxIterations = 25;
constexpr float kRatioFactor = 0.2f;
constexpr int32_t kScanMargin = 20;
constexpr int32_t kScanStep = 5;
constexpr float kMinChannelRange = 0.1f;
constexpr float kMinSymmetryScore = 0.5f;

// Handed out when the result array cannot be allocated, so callers always get
// a terminated array; the release function recognises it.
MotionOffsetTile gEmptyResult{};

const float* pixelAt(const float* frame, ptrdiff_t width, ptrdiff_t row, ptrdiff_t col) {
    return frame + 4 * (row * width + col);
}

// Whether the window of the point lies at least 2 x halfWindow inside every
// edge, the condition under which the window test keeps all reads inside.
bool pointFits(const TileSearchParams& p) {
    const int64_t k = p.halfWindow;
    if (k < 0 || p.width <= 0 || p.height <= 0) return false;
    const int64_t row = static_cast<int64_t>(p.row), col = static_cast<int64_t>(p.col);
    return p.row <= static_cast<size_t>(INT32_MAX) && p.col <= static_cast<size_t>(INT32_MAX) && 2 * k <= row &&
           row <= p.height - 2 * k - 1 && 2 * k <= col && col <= p.width - 2 * k - 1;
}

bool passesContrast(const float* f1, ptrdiff_t width, ptrdiff_t r, ptrdiff_t c) {
    const float* pts[5] = {pixelAt(f1, width, r, c), pixelAt(f1, width, r + 10, c - 10),
                           pixelAt(f1, width, r + 10, c + 10), pixelAt(f1, width, r - 10, c - 10),
                           pixelAt(f1, width, r - 10, c + 10)};
    for (int ch = 0; ch < 3; ++ch) {
        float values[5];
        for (int i = 0; i < 5; ++i) values[i] = pts[i][ch];
        if (maxArr(values, 5) - minArr(values, 5) >= kMinChannelRange) return true;
    }
    return false;
}

}  // namespace

extern "C" {

float scoreTileSymmetry(const float* frame, const TileSearchParams* params) {
    const TileSearchParams& p = *params;
    const ptrdiff_t k = p.halfWindow, width = p.width;
    if (!pointFits(p)) return 0.0f;
    const ptrdiff_t row = static_cast<ptrdiff_t>(p.row), col = static_cast<ptrdiff_t>(p.col);
    float sv = 0, sh = 0, sd = 0, sm = 0;
    for (ptrdiff_t y = row - k; y < row; ++y) {
        for (ptrdiff_t x = col - k; x < col; ++x) {
            const float* px = pixelAt(frame, width, y, x);
            sv += diffSqRgb(px, pixelAt(frame, width, y + k, x));
            sh += diffSqRgb(px, pixelAt(frame, width, y, x + k));
            sd += diffSqRgb(px, pixelAt(frame, width, y + k, x + k));
            sm += sqRgb(px);
        }
    }
    if (k == 0 || static_cast<double>(sm) <= 1e-12) return 1e12f;
    const float n = static_cast<float>(k * k);
    float m;
    if (sh / n < sv / n) {
        m = sh / n;
    } else if (sd / n < sv / n) {
        m = sd / n;
    } else {
        m = sv / n;
    }
    return m / (sm / n);
}

void tryCorrelateOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch,
                        TileSearchParams* params) {
    TileSearchParams& p = *params;
    p.maskCount = p.displacedCount = p.inPlaceCount = 0;
    p.displacedDiffMean = p.inPlaceDiffMean = p.displacedEnergyMean = p.inPlaceEnergyMean = 0;
    if (!pointFits(p)) return;
    const int64_t k = p.halfWindow, s = 2 * k, width = p.width, height = p.height;
    const int64_t row = static_cast<int64_t>(p.row), col = static_cast<int64_t>(p.col);
    const int64_t dx = p.dx, dy = p.dy;
    if (!(0 <= k + dy && k + dy <= row && row + k + dy <= height && 0 <= k + dx && k + dx <= col &&
          col + k + dx <= width))
        return;
    float dispDiff = 0, dispEnergy = 0, inDiff = 0, inEnergy = 0;
    int32_t dispCount = 0, inCount = 0;
    for (int64_t i = 0; i < s; ++i) {
        for (int64_t j = 0; j < s; ++j) {
            const int64_t r = row - k + i, c = col - k + j;
            const int64_t rd = row - k - dy + i, cd = col - k - dx + j;
            const float* a = pixelAt(f1, width, r, c);
            const float* b = pixelAt(f2, width, r, c);
            const float* bd = pixelAt(f2, width, rd, cd);
            const float d0 = diffSqRgb(a, b);
            const float d1 = diffSqRgb(a, bd);
            const uint8_t bit = d1 > p.ratioFactor * d0 ? 1 : 0;
            scratch[i * s + j] = bit;
            if (mask) mask[rd * width + cd] = bit;
            if (d1 > d0) {
                ++dispCount;
                dispDiff += d1;
                dispEnergy += sqRgb(bd);
            } else {
                ++inCount;
                inDiff += d0;
                inEnergy += sqRgb(b);
            }
        }
    }
    int32_t maskCount = 0;
    for (int64_t i = 1; i <= s - 2; ++i) {
        for (int64_t j = 1; j <= s - 2; ++j) {
            if (!scratch[i * s + j]) continue;
            const int around = scratch[(i - 1) * s + j] + scratch[(i + 1) * s + j] + scratch[i * s + j - 1] +
                               scratch[i * s + j + 1];
            if (around >= 3) ++maskCount;
        }
    }
    p.maskCount = maskCount;
    p.displacedCount = dispCount;
    p.inPlaceCount = inCount;
    if (dispCount > 0) {
        p.displacedDiffMean = dispDiff / static_cast<float>(dispCount);
        p.displacedEnergyMean = dispEnergy / static_cast<float>(dispCount);
    }
    if (inCount > 0) {
        p.inPlaceDiffMean = inDiff / static_cast<float>(inCount);
        p.inPlaceEnergyMean = inEnergy / static_cast<float>(inCount);
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
        float toBeat = (best.dx != 0 || best.dy != 0) ? best.displacedDiffMean / best.displacedEnergyMean
                                                      : best.inPlaceDiffMean / best.inPlaceEnergyMean;
        bool accepted = false;
        for (const auto& step : kSteps) {
            TileSearchParams candidate = best;
            candidate.dx += step[0];
            candidate.dy += step[1];
            tryCorrelateOffset(f1, f2, nullptr, scratch, &candidate);
            const float ratio = candidate.displacedDiffMean / candidate.displacedEnergyMean;
            if (candidate.displacedCount >= candidate.halfWindow && ratio < toBeat) {
                best = candidate;
                toBeat = ratio;
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

MotionOffsetTile* LowLevel_MotionDetectionTakeDifference(const float* f1, const float* f2, uint8_t* mask,
                                                         int32_t width, int32_t height) {
    const size_t room = (width > 0 && height > 0) ? static_cast<size_t>(width / 10) * static_cast<size_t>(height / 10) : 0;
    auto* tiles = static_cast<MotionOffsetTile*>(std::malloc(sizeof(MotionOffsetTile) * (room + 1)));
    auto* scratch = static_cast<uint8_t*>(std::malloc(4 * kHalfWindow * kHalfWindow));
    if (!tiles || !scratch) {
        std::free(tiles);
        std::free(scratch);
        return &gEmptyResult;
    }
    TileSearchParams params{};
    params.width = width;
    params.height = height;
    params.halfWindow = kHalfWindow;
    params.maxIterations = kMaxIterations;
    params.ratioFactor = kRatioFactor;
    size_t count = 0;
    if (f1 && f2 && width > 2 * kScanMargin && height > 2 * kScanMargin) {
        for (int32_t r = kScanMargin; r < height - kScanMargin; r += kScanStep) {
            for (int32_t c = kScanMargin; c < width - kScanMargin; c += kScanStep) {
                if (!passesContrast(f1, width, r, c)) continue;
                params.row = static_cast<size_t>(r);
                params.col = static_cast<size_t>(c);
                if (scoreTileSymmetry(f1, &params) < kMinSymmetryScore) continue;
                findBestOffset(f1, f2, nullptr, scratch, &params);
                if (params.dx == 0 && params.dy == 0) continue;
                const float q0 = params.inPlaceDiffMean / params.inPlaceEnergyMean;
                const float q1 = params.displacedDiffMean / params.displacedEnergyMean;
                if (static_cast<double>(params.ratioFactor) * static_cast<double>(q0) < static_cast<double>(q1) ||
                    params.displacedCount < 1)
                    continue;
                if (count == room) continue;
                if (mask) tryCorrelateOffset(f1, f2, mask, scratch, &params);
                MotionOffsetTile& t = tiles[count++];
                t.x = static_cast<float>(params.col) / static_cast<float>(width);
                t.y = static_cast<float>(params.row) / static_cast<float>(height);
                t.w = 10.0f / static_cast<float>(width);
                t.h = 10.0f / static_cast<float>(height);
                t.dx = static_cast<float>(params.dx) / static_cast<float>(width);
                t.dy = static_cast<float>(params.dy) / static_cast<float>(height);
                t.displacedCount = params.displacedCount;
                t.inPlaceCount = params.inPlaceCount;
                t.displacedDiffMean = params.displacedDiffMean;
                t.inPlaceDiffMean = params.inPlaceDiffMean;
                t.displacedEnergyMean = params.displacedEnergyMean;
                t.inPlaceEnergyMean = params.inPlaceEnergyMean;
            }
        }
    }
    std::memset(&tiles[count], 0, sizeof(MotionOffsetTile));
    std::free(scratch);
    return tiles;
}

void LowLevel_ReleaseMotionOffsetTile(MotionOffsetTile* tiles) {
    if (tiles != &gEmptyResult) std::free(tiles);
}

int floatComparator(const void* a, const void* b) {
    const float x = *static_cast<const float*>(a), y = *static_cast<const float*>(b);
    if (x > y) return 1;
    if (x < y) return -1;
    return 0;
}

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
