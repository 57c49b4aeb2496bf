#pragma once
// The frame differencing written out plainly, one pixel after another on one
// thread, as the reference that the real implementation must match bit for bit.
#include <cstdint>
#include <vector>

#include "analysis/frame_difference.h"

namespace literal {

float scoreTileSymmetry(const float* frame, const TileSearchParams& params);
void tryCorrelateOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch, TileSearchParams& params);
void findBestOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch, TileSearchParams& params);

// The stored records in scan order, without the terminator; at most
// (width / 10) x (height / 10) of them (later points are dropped). When
// `passing` is given it receives the number of points that passed, stored or not.
std::vector<MotionOffsetTile> takeDifference(const float* f1, const float* f2, uint8_t* mask, int32_t width,
                                             int32_t height, size_t* passing = nullptr);

}  // namespace literal
