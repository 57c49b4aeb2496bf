// The row scan of the frame differencing. Included by the engine files inside
// their own namespace, after they define:
//   F8, I8                  8-lane float and int32 vectors (GCC vector extension)
//   F8 fma8(F8, F8, F8)     lane-wise fused multiply-add
//   F8 loadRing(const float* at)   the 8 ring neighbours of a tile cell, in ring lane order
// No standard-library templates here: this file is compiled with different
// target options in each engine.
//
// Every sum runs over the window's pixels in row order, exactly as the plain
// transcription does; the vector lanes only ever hold different candidate
// shifts of one point, each lane with its own sums in that order.

constexpr int64_t K = kHalfWindow;
constexpr int64_t S = kWindowSide;
constexpr int64_t kPixels = S * S;
// The displaced-place tile of one batch: the window plus one pixel all round.
constexpr int64_t T = S + 2;

inline float sq1(const float* p) { return __builtin_fmaf(p[2], p[2], __builtin_fmaf(p[0], p[0], p[1] * p[1])); }

inline float diffSq1(const float* p, const float* q) {
    const float dr = p[0] - q[0], dg = p[1] - q[1], db = p[2] - q[2];
    return __builtin_fmaf(db, db, __builtin_fmaf(dr, dr, dg * dg));
}

inline const float* pixel(const float* frame, int64_t width, int64_t row, int64_t col) {
    return frame + 4 * (row * width + col);
}

// Greatest minus least of five values, each found by a left-to-right scan.
inline float channelRange(const float* const* five, int channel) {
    float greatest = five[0][channel], least = five[0][channel];
    for (int i = 1; i < 5; ++i) {
        const float v = five[i][channel];
        if (v > greatest) greatest = v;
        if (v < least) least = v;
    }
    return greatest - least;
}

inline bool hasContrast(const Frames& fr, int64_t r, int64_t c) {
    const float* five[5] = {pixel(fr.f1, fr.width, r, c), pixel(fr.f1, fr.width, r + 10, c - 10),
                            pixel(fr.f1, fr.width, r + 10, c + 10), pixel(fr.f1, fr.width, r - 10, c - 10),
                            pixel(fr.f1, fr.width, r - 10, c + 10)};
    for (int channel = 0; channel < 3; ++channel)
        if (channelRange(five, channel) >= 0.1f) return true;
    return false;
}

float symmetryScore(const float* frame, int64_t width, int64_t row, int64_t col, int64_t k) {
    float sv = 0, sh = 0, sd = 0, sm = 0;
    for (int64_t y = row - k; y < row; ++y) {
        for (int64_t x = col - k; x < col; ++x) {
            const float* p = pixel(frame, width, y, x);
            sv = sv + diffSq1(p, pixel(frame, width, y + k, x));
            sh = sh + diffSq1(p, pixel(frame, width, y, x + k));
            sd = sd + diffSq1(p, pixel(frame, width, y + k, x + k));
            sm = sm + sq1(p);
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

// Statistics of one shift of the point, as the plain search leaves them.
struct ShiftStats {
    int32_t dx, dy;
    int32_t displacedCount, inPlaceCount;
    float displacedDiffMean, inPlaceDiffMean, displacedEnergyMean, inPlaceEnergyMean;
};

// The window of one point: the first frame's pixels and, per pixel, the
// in-place difference D0 and the second frame's energy in place.
struct Window {
    float red[kPixels], green[kPixels], blue[kPixels];
    float d0[kPixels], e0[kPixels];
};

// The eight neighbour steps in the order the descent tries them, and the ring
// lane that evaluates each: lane l looks at tile cell (i + ringRow[l], j +
// ringCol[l]), the displaced place of step (1 - ringCol[l], 1 - ringRow[l]).
constexpr int32_t kStepX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int32_t kStepY[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int32_t kRingRow[8] = {0, 0, 0, 1, 1, 2, 2, 2};
constexpr int32_t kRingCol[8] = {0, 1, 2, 0, 2, 0, 1, 2};
constexpr int kLaneOfStep[8] = {1, 0, 3, 5, 6, 7, 4, 2};

// The eight neighbours of one base shift, evaluated together.
struct Batch {
    int32_t baseDx, baseDy;
    bool valid;
    ShiftStats lane[8];
};

struct Tile {
    alignas(32) float red[T * T], green[T * T], blue[T * T], energy[T * T];
};

// Whether the window of (row, col) fits at shift (dx, dy): the window test.
inline bool windowFits(const Frames& fr, int64_t row, int64_t col, int64_t dx, int64_t dy) {
    return 0 <= K + dy && K + dy <= row && row + K + dy <= fr.height && 0 <= K + dx && K + dx <= col &&
           col + K + dx <= fr.width;
}

void evaluateBatch(const Frames& fr, int64_t row, int64_t col, const Window& w, Tile& tile, Batch& batch,
                   int32_t baseDx, int32_t baseDy) {
    batch.baseDx = baseDx;
    batch.baseDy = baseDy;
    batch.valid = true;
    // Second-frame pixels of the displaced places of all eight lanes; cells
    // outside the frame (only lanes failing the window test reach them) are 0.
    const int64_t top = row - K - baseDy - 1, left = col - K - baseDx - 1;
    for (int64_t ty = 0; ty < T; ++ty) {
        const int64_t y = top + ty;
        for (int64_t tx = 0; tx < T; ++tx) {
            const int64_t x = left + tx, at = ty * T + tx;
            if (y < 0 || y >= fr.height || x < 0 || x >= fr.width) {
                tile.red[at] = tile.green[at] = tile.blue[at] = tile.energy[at] = 0;
                continue;
            }
            const float* q = pixel(fr.f2, fr.width, y, x);
            tile.red[at] = q[0];
            tile.green[at] = q[1];
            tile.blue[at] = q[2];
            tile.energy[at] = sq1(q);
        }
    }
    F8 displacedDiff = {}, displacedEnergy = {}, inPlaceDiff = {}, inPlaceEnergy = {};
    I8 displacedCount = {};
    for (int64_t i = 0; i < S; ++i) {
        for (int64_t j = 0; j < S; ++j) {
            const int64_t n = i * S + j, at = i * T + j;
            const F8 dr = w.red[n] - loadRing(tile.red + at);
            const F8 dg = w.green[n] - loadRing(tile.green + at);
            const F8 db = w.blue[n] - loadRing(tile.blue + at);
            const F8 d1 = fma8(db, db, fma8(dr, dr, dg * dg));
            const F8 d0 = F8{} + w.d0[n];
            const I8 displaced = d1 > d0;
            displacedDiff = displaced ? displacedDiff + d1 : displacedDiff;
            displacedEnergy = displaced ? displacedEnergy + loadRing(tile.energy + at) : displacedEnergy;
            inPlaceDiff = displaced ? inPlaceDiff : inPlaceDiff + w.d0[n];
            inPlaceEnergy = displaced ? inPlaceEnergy : inPlaceEnergy + w.e0[n];
            displacedCount -= displaced;
        }
    }
    for (int l = 0; l < 8; ++l) {
        ShiftStats& s = batch.lane[l];
        s.dx = baseDx + (1 - kRingCol[l]);
        s.dy = baseDy + (1 - kRingRow[l]);
        s.displacedCount = s.inPlaceCount = 0;
        s.displacedDiffMean = s.inPlaceDiffMean = s.displacedEnergyMean = s.inPlaceEnergyMean = 0;
        if (!windowFits(fr, row, col, s.dx, s.dy)) continue;
        s.displacedCount = displacedCount[l];
        s.inPlaceCount = static_cast<int32_t>(kPixels) - displacedCount[l];
        if (s.displacedCount > 0) {
            s.displacedDiffMean = displacedDiff[l] / static_cast<float>(s.displacedCount);
            s.displacedEnergyMean = displacedEnergy[l] / static_cast<float>(s.displacedCount);
        }
        if (s.inPlaceCount > 0) {
            s.inPlaceDiffMean = inPlaceDiff[l] / static_cast<float>(s.inPlaceCount);
            s.inPlaceEnergyMean = inPlaceEnergy[l] / static_cast<float>(s.inPlaceCount);
        }
    }
}

// findBestOffset without mask for a scan point. Candidate ratios are never
// negative, so once the ratio to beat is 0 (or not a number) no step can be
// accepted and the remaining evaluations are skipped.
ShiftStats searchPoint(const Frames& fr, int64_t row, int64_t col, Window& w, Tile& tile, Batch& batch) {
    float inPlaceDiff = 0, inPlaceEnergy = 0;
    for (int64_t i = 0; i < S; ++i) {
        for (int64_t j = 0; j < S; ++j) {
            const int64_t n = i * S + j;
            const float* p = pixel(fr.f1, fr.width, row - K + i, col - K + j);
            const float* q = pixel(fr.f2, fr.width, row - K + i, col - K + j);
            w.red[n] = p[0];
            w.green[n] = p[1];
            w.blue[n] = p[2];
            w.d0[n] = diffSq1(p, q);
            w.e0[n] = sq1(q);
            inPlaceDiff = inPlaceDiff + w.d0[n];
            inPlaceEnergy = inPlaceEnergy + w.e0[n];
        }
    }
    ShiftStats best{};
    best.inPlaceCount = static_cast<int32_t>(kPixels);
    best.inPlaceDiffMean = inPlaceDiff / static_cast<float>(kPixels);
    best.inPlaceEnergyMean = inPlaceEnergy / static_cast<float>(kPixels);
    if (best.inPlaceEnergyMean < 1e-12f) return best;
    batch.valid = false;
    for (int32_t iteration = 0; iteration < kMaxIterations; ++iteration) {
        float ratioToBeat = (best.dx != 0 || best.dy != 0) ? best.displacedDiffMean / best.displacedEnergyMean
                                                           : best.inPlaceDiffMean / best.inPlaceEnergyMean;
        bool accepted = false;
        for (int step = 0; step < 8 && ratioToBeat > 0; ++step) {
            if (!batch.valid || batch.baseDx != best.dx || batch.baseDy != best.dy)
                evaluateBatch(fr, row, col, w, tile, batch, best.dx, best.dy);
            const ShiftStats& candidate = batch.lane[kLaneOfStep[step]];
            const float ratio = candidate.displacedDiffMean / candidate.displacedEnergyMean;
            if (candidate.displacedCount >= K && ratio < ratioToBeat) {
                best = candidate;
                ratioToBeat = ratio;
                accepted = true;
            }
        }
        if (!accepted) break;
    }
    return best;
}

int32_t scanRow(const Frames& fr, int32_t row, FoundPoint* out) {
    Window window;
    Tile tile;
    Batch batch{};
    int32_t found = 0;
    for (int64_t col = kScanMargin; col < fr.width - kScanMargin; col += kScanStep) {
        if (!hasContrast(fr, row, col)) continue;
        if (symmetryScore(fr.f1, fr.width, row, col, K) < 0.5f) continue;
        const ShiftStats s = searchPoint(fr, row, col, window, tile, batch);
        if (s.dx == 0 && s.dy == 0) continue;
        const float q0 = s.inPlaceDiffMean / s.inPlaceEnergyMean;
        const float q1 = s.displacedDiffMean / s.displacedEnergyMean;
        if (static_cast<double>(kRatioFactor) * static_cast<double>(q0) < static_cast<double>(q1) ||
            s.displacedCount < 1)
            continue;
        FoundPoint& point = out[found++];
        point.row = row;
        point.col = static_cast<int32_t>(col);
        point.dx = s.dx;
        point.dy = s.dy;
        MotionOffsetTile& t = point.tile;
        t.x = static_cast<float>(col) / static_cast<float>(fr.width);
        t.y = static_cast<float>(row) / static_cast<float>(fr.height);
        t.w = 10.0f / static_cast<float>(fr.width);
        t.h = 10.0f / static_cast<float>(fr.height);
        t.dx = static_cast<float>(s.dx) / static_cast<float>(fr.width);
        t.dy = static_cast<float>(s.dy) / static_cast<float>(fr.height);
        t.displacedCount = s.displacedCount;
        t.inPlaceCount = s.inPlaceCount;
        t.displacedDiffMean = s.displacedDiffMean;
        t.inPlaceDiffMean = s.inPlaceDiffMean;
        t.displacedEnergyMean = s.displacedEnergyMean;
        t.inPlaceEnergyMean = s.inPlaceEnergyMean;
    }
    return found;
}
