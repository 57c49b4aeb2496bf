#pragma once
// The resampling filters of FFmpeg's scaler, built as it builds them, for
// the direct conversions that must match it to the bit.
#include <cstdint>
#include <vector>

namespace kv {

// One resampling filter as the scaler builds it: for each output, the first
// input it reads and `taps` integer weights summing to the filter's unit.
struct ScaleFilter {
    int taps = 0;
    std::vector<int32_t> first;
    std::vector<int16_t> weights;  // taps per output, output after output

    // Whether every output's taps lie among `inputs` samples, as the
    // scaler's folding at the edges leaves them when it can.
    bool readsWithin(int inputs) const {
        for (const int32_t f : first) {
            if (f < 0 || f + taps > inputs) return false;
        }
        return true;
    }
};

// The scaler's bicubic filter from `inputs` samples to `outputs`, its sample
// grids placed at `inputPosition` and `outputPosition` (in 1/256 of a sample
// past the edge), weights padded to a multiple of `align` taps and summing to
// `unit`.
ScaleFilter bicubicScaleFilter(int inputs, int outputs, int inputPosition, int outputPosition, int align, int unit);

// The scaler's division of integers rounded to nearest, halves away from zero.
inline int64_t roundedDivision(int64_t a, int64_t b) { return (a >= 0 ? a + (b >> 1) : a - (b >> 1)) / b; }

}  // namespace kv
