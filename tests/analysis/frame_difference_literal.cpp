#include "tests/analysis/frame_difference_literal.h"

#include <cmath>

namespace literal {
namespace {

float sq(const float* p) { return std::fma(p[2], p[2], std::fma(p[0], p[0], p[1] * p[1])); }

float diffSq(const float* p, const float* q) {
    const float dr = p[0] - q[0], dg = p[1] - q[1], db = p[2] - q[2];
    return std::fma(db, db, std::fma(dr, dr, dg * dg));
}

const float* at(const float* frame, int64_t width, int64_t row, int64_t col) {
    return frame + 4 * (row * width + col);
}

float greatest(const float* v) {
    float m = v[0];
    for (int i = 1; i < 5; ++i)
        if (v[i] > m) m = v[i];
    return m;
}

float least(const float* v) {
    float m = v[0];
    for (int i = 1; i < 5; ++i)
        if (v[i] < m) m = v[i];
    return m;
}

}  // namespace

float scoreTileSymmetry(const float* frame, const TileSearchParams& params) {
    const int64_t k = params.halfWindow, width = params.width;
    const int64_t row = static_cast<int64_t>(params.row), col = static_cast<int64_t>(params.col);
    float sv = 0, sh = 0, sd = 0, sm = 0;
    for (int64_t y = row - k; y <= row - 1; ++y) {
        for (int64_t x = col - k; x <= col - 1; ++x) {
            sv = sv + diffSq(at(frame, width, y, x), at(frame, width, y + k, x));
            sh = sh + diffSq(at(frame, width, y, x), at(frame, width, y, x + k));
            sd = sd + diffSq(at(frame, width, y, x), at(frame, width, y + k, x + k));
            sm = sm + sq(at(frame, width, y, x));
        }
    }
    if (k == 0 || static_cast<double>(sm) <= 1e-12) return 1e12f;
    const float n = static_cast<float>(k * k);
    float m;
    if (sh / n < sv / n)
        m = sh / n;
    else if (sd / n < sv / n)
        m = sd / n;
    else
        m = sv / n;
    return m / (sm / n);
}

void tryCorrelateOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch, TileSearchParams& params) {
    params.maskCount = 0;
    params.displacedCount = 0;
    params.inPlaceCount = 0;
    params.displacedDiffMean = 0;
    params.inPlaceDiffMean = 0;
    params.displacedEnergyMean = 0;
    params.inPlaceEnergyMean = 0;
    const int64_t k = params.halfWindow, s = 2 * k;
    const int64_t width = params.width, height = params.height;
    const int64_t row = static_cast<int64_t>(params.row), col = static_cast<int64_t>(params.col);
    const int64_t dx = params.dx, dy = params.dy;
    if (!(0 <= k + dy && k + dy <= row && row + k + dy <= height && 0 <= k + dx && k + dx <= col &&
          col + k + dx <= width))
        return;
    float displacedDiffSum = 0, displacedEnergySum = 0, inPlaceDiffSum = 0, inPlaceEnergySum = 0;
    for (int64_t i = 0; i < s; ++i) {
        for (int64_t j = 0; j < s; ++j) {
            const int64_t pr = row - k + i, pc = col - k + j;
            const int64_t qr = row - k - dy + i, qc = col - k - dx + j;
            const float d0 = diffSq(at(f1, width, pr, pc), at(f2, width, pr, pc));
            const float d1 = diffSq(at(f1, width, pr, pc), at(f2, width, qr, qc));
            const uint8_t bit = d1 > params.ratioFactor * d0 ? 1 : 0;
            scratch[i * s + j] = bit;
            if (mask) mask[qr * width + qc] = bit;
            if (d1 > d0) {
                params.displacedCount += 1;
                displacedDiffSum = displacedDiffSum + d1;
                displacedEnergySum = displacedEnergySum + sq(at(f2, width, qr, qc));
            } else {
                params.inPlaceCount += 1;
                inPlaceDiffSum = inPlaceDiffSum + d0;
                inPlaceEnergySum = inPlaceEnergySum + sq(at(f2, width, pr, pc));
            }
        }
    }
    for (int64_t i = 1; i <= s - 2; ++i) {
        for (int64_t j = 1; j <= s - 2; ++j) {
            const int neighbours = scratch[(i - 1) * s + j] + scratch[(i + 1) * s + j] + scratch[i * s + (j - 1)] +
                                   scratch[i * s + (j + 1)];
            if (scratch[i * s + j] == 1 && neighbours >= 3) params.maskCount += 1;
        }
    }
    if (params.displacedCount > 0) {
        params.displacedDiffMean = displacedDiffSum / static_cast<float>(params.displacedCount);
        params.displacedEnergyMean = displacedEnergySum / static_cast<float>(params.displacedCount);
    }
    if (params.inPlaceCount > 0) {
        params.inPlaceDiffMean = inPlaceDiffSum / static_cast<float>(params.inPlaceCount);
        params.inPlaceEnergyMean = inPlaceEnergySum / static_cast<float>(params.inPlaceCount);
    }
}

void findBestOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch, TileSearchParams& params) {
    static const int32_t steps[8][2] = {{0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}};
    params.dx = 0;
    params.dy = 0;
    params.displacedCount = 0;
    params.inPlaceCount = 0;
    tryCorrelateOffset(f1, f2, nullptr, scratch, params);
    if (params.inPlaceEnergyMean < 1e-12f) return;
    TileSearchParams best = params;
    for (int32_t iteration = 0; iteration < params.maxIterations; ++iteration) {
        float ratioToBeat;
        if (best.dx != 0 || best.dy != 0)
            ratioToBeat = best.displacedDiffMean / best.displacedEnergyMean;
        else
            ratioToBeat = best.inPlaceDiffMean / best.inPlaceEnergyMean;
        bool anyAccepted = false;
        for (int n = 0; n < 8; ++n) {
            TileSearchParams candidate = best;
            candidate.dx = best.dx + steps[n][0];
            candidate.dy = best.dy + steps[n][1];
            tryCorrelateOffset(f1, f2, nullptr, scratch, candidate);
            const float ratio = candidate.displacedDiffMean / candidate.displacedEnergyMean;
            if (candidate.displacedCount >= params.halfWindow && ratio < ratioToBeat) {
                best = candidate;
                ratioToBeat = ratio;
                anyAccepted = true;
            }
        }
        if (!anyAccepted) break;
        params = best;
    }
    if (mask != nullptr && params.displacedCount >= params.halfWindow) {
        TileSearchParams copy = params;
        tryCorrelateOffset(f1, f2, mask, scratch, copy);
    }
}

std::vector<MotionOffsetTile> takeDifference(const float* f1, const float* f2, uint8_t* mask, int32_t width,
                                             int32_t height, size_t* passing) {
    std::vector<MotionOffsetTile> records;
    if (passing) *passing = 0;
    const size_t room = static_cast<size_t>(width / 10) * static_cast<size_t>(height / 10);
    std::vector<uint8_t> scratch(400);
    TileSearchParams params{};
    params.width = width;
    params.height = height;
    params.halfWindow = 10;
    params.maxIterations = 25;
    params.ratioFactor = 0.2f;
    if (width <= 40 || height <= 40) return records;
    for (int64_t r = 20; r < height - 20; r += 5) {
        for (int64_t c = 20; c < width - 20; c += 5) {
            const float* five[5] = {at(f1, width, r, c), at(f1, width, r + 10, c - 10), at(f1, width, r + 10, c + 10),
                                    at(f1, width, r - 10, c - 10), at(f1, width, r - 10, c + 10)};
            bool contrast = false;
            for (int channel = 0; channel < 3 && !contrast; ++channel) {
                const float values[5] = {five[0][channel], five[1][channel], five[2][channel], five[3][channel],
                                         five[4][channel]};
                if (greatest(values) - least(values) >= 0.1f) contrast = true;
            }
            if (!contrast) continue;
            params.row = static_cast<size_t>(r);
            params.col = static_cast<size_t>(c);
            if (scoreTileSymmetry(f1, params) < 0.5f) continue;
            findBestOffset(f1, f2, nullptr, scratch.data(), params);
            if (params.dx == 0 && params.dy == 0) continue;
            const float q0 = params.inPlaceDiffMean / params.inPlaceEnergyMean;
            const float q1 = params.displacedDiffMean / params.displacedEnergyMean;
            if (static_cast<double>(params.ratioFactor) * static_cast<double>(q0) < static_cast<double>(q1)) continue;
            if (params.displacedCount < 1) continue;
            if (passing) ++*passing;
            if (records.size() == room) continue;
            if (mask != nullptr) tryCorrelateOffset(f1, f2, mask, scratch.data(), params);
            MotionOffsetTile tile;
            tile.x = static_cast<float>(params.col) / static_cast<float>(width);
            tile.y = static_cast<float>(params.row) / static_cast<float>(height);
            tile.w = 10.0f / static_cast<float>(width);
            tile.h = 10.0f / static_cast<float>(height);
            tile.dx = static_cast<float>(params.dx) / static_cast<float>(width);
            tile.dy = static_cast<float>(params.dy) / static_cast<float>(height);
            tile.displacedCount = params.displacedCount;
            tile.inPlaceCount = params.inPlaceCount;
            tile.displacedDiffMean = params.displacedDiffMean;
            tile.inPlaceDiffMean = params.inPlaceDiffMean;
            tile.displacedEnergyMean = params.displacedEnergyMean;
            tile.inPlaceEnergyMean = params.inPlaceEnergyMean;
            records.push_back(tile);
        }
    }
    return records;
}

}  // namespace literal
