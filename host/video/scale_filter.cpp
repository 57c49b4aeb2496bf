#include "host/video/scale_filter.h"

#include <algorithm>
#include <cstdlib>

namespace kv {

namespace {

// Weights of the cubic from the scaler's defaults (B = 0, C = 0.6) in its
// fixed point: 1 << 30 is one sample of distance, 1 << 24 one of weight.
int64_t cubicWeight(int64_t d) {
    const int64_t B = 0;
    const int64_t C = int64_t(0.6 * (1 << 24));
    if (d >= int64_t(1) << 31) return 0;
    const int64_t dd = (d * d) >> 30;
    const int64_t ddd = (dd * d) >> 30;
    if (d < int64_t(1) << 30) {
        return (12 * (1 << 24) - 9 * B - 6 * C) * ddd + (-18 * (1 << 24) + 12 * B + 6 * C) * dd +
               (6 * (1 << 24) - 2 * B) * (int64_t(1) << 30);
    }
    return (-B - 6 * C) * ddd + (6 * B + 30 * C) * dd + (-12 * B - 48 * C) * d + (8 * B + 24 * C) * (int64_t(1) << 30);
}

// The scaler's step from one output sample to the next, in 1/65536 of an input.
int stepBetween(int inputs, int outputs) { return int(((int64_t(inputs) << 16) + (outputs >> 1)) / outputs); }

}  // namespace

ScaleFilter bicubicScaleFilter(int inputs, int outputs, int inputPosition, int outputPosition, int align, int unit) {
    const int step = stepBetween(inputs, outputs);
    const bool downscaling = step > 1 << 16;
    // The unit of the wide weights narrows by the octaves of a downscale.
    int octaves = 0;
    for (int ratio = inputs / outputs; ratio > 1 && octaves < 8; ratio >>= 1) ++octaves;
    const int64_t fone = int64_t(1) << (54 - octaves);
    const size_t count = size_t(outputs);
    std::vector<int32_t> first(count);
    std::vector<int64_t> wide;
    int size = 1;
    if (std::abs(step - 0x10000) < 10 && inputPosition == outputPosition) {
        wide.assign(count, fone);
        for (int i = 0; i < outputs; ++i) first[size_t(i)] = i;
    } else {
        // A downscale widens the cubic to cover its inputs.
        size = downscaling ? 1 + (4 * inputs + outputs - 1) / outputs : 1 + 4;
        size = std::max(std::min(size, inputs - 2), 1);
        wide.resize(count * size_t(size));
        int64_t at = ((outputPosition * int64_t(step)) >> 7) - ((inputPosition * 0x10000LL) >> 7);
        const int64_t narrowing = (int64_t(1) << 54) / fone;
        for (int i = 0; i < outputs; ++i) {
            int xx = int((at - (size - 2) * (int64_t(1) << 16)) / (1 << 17));
            first[size_t(i)] = xx;
            for (int j = 0; j < size; ++j, ++xx) {
                int64_t d = std::llabs(int64_t(xx) * (1 << 17) - at) << 13;
                if (downscaling) d = d * outputs / inputs;
                wide[size_t(i) * size_t(size) + size_t(j)] = cubicWeight(d) / narrowing;
            }
            at += 2LL * step;
        }
    }

    // Trim near-zero weights from the left (moving the window right) and
    // find how many are needed on the right.
    const double cutOffLimit = 0.002 * double(fone);
    int needed = 0;
    for (int i = outputs - 1; i >= 0; --i) {
        int64_t* w = wide.data() + size_t(i) * size_t(size);
        int keep = size;
        int64_t cutOff = 0;
        for (int j = 0; j < size; ++j) {
            cutOff += std::llabs(w[0]);
            if (double(cutOff) > cutOffLimit) break;
            if (i < outputs - 1 && first[size_t(i)] >= first[size_t(i) + 1]) break;
            for (int k = 1; k < size; ++k) w[k - 1] = w[k];
            w[size - 1] = 0;
            ++first[size_t(i)];
        }
        cutOff = 0;
        for (int j = size - 1; j > 0; --j) {
            cutOff += std::llabs(w[j]);
            if (double(cutOff) > cutOffLimit) break;
            --keep;
        }
        needed = std::max(needed, keep);
    }
    if (needed == 1 && align == 2) align = 1;  // the scaler's case for unscaled vertical filtering
    const int taps = (needed + (align - 1)) & ~(align - 1);

    std::vector<int64_t> kept(count * size_t(taps), 0);
    for (size_t i = 0; i < count; ++i) {
        std::copy_n(wide.data() + i * size_t(size), std::min(taps, size), kept.data() + i * size_t(taps));
    }

    // Windows that reach past an edge fold their weights onto the edge.
    for (size_t i = 0; i < count; ++i) {
        int64_t* w = kept.data() + i * size_t(taps);
        int32_t& pos = first[i];
        if (pos < 0) {
            for (int j = 1; j < taps; ++j) {
                const int left = std::max(j + pos, 0);
                w[left] += w[j];
                w[j] = 0;
            }
            pos = 0;
        }
        if (pos + taps > inputs) {
            const int shift = pos + std::min(taps - inputs, 0);
            int64_t acc = 0;
            for (int j = taps - 1; j >= 0; --j) {
                if (pos + j >= inputs) {
                    acc += w[j];
                    w[j] = 0;
                }
            }
            for (int j = taps - 1; j >= 0; --j) w[j] = j < shift ? 0 : w[j - shift];
            pos -= shift;
            w[inputs - 1 - pos] += acc;
        }
    }

    // Weights to integers summing to `unit`, each rounding error carried on.
    ScaleFilter filter;
    filter.taps = taps;
    filter.first = std::move(first);
    filter.weights.resize(count * size_t(taps));
    for (size_t i = 0; i < count; ++i) {
        const int64_t* w = kept.data() + i * size_t(taps);
        int64_t sum = 0;
        for (int j = 0; j < taps; ++j) sum += w[j];
        sum = (sum + unit / 2) / unit;
        if (!sum) sum = 1;
        int64_t error = 0;
        for (int j = 0; j < taps; ++j) {
            const int64_t value = w[j] + error;
            const int64_t rounded = roundedDivision(value, sum);
            filter.weights[i * size_t(taps) + size_t(j)] = int16_t(rounded);
            error = value - rounded * sum;
        }
    }
    return filter;
}

}  // namespace kv
