#pragma once
// The byte shuffles of the vector 8-bit filters: a 16-byte lane holds the
// texel pairs of two pixels (two BGRA texels each, side by side), and a
// shuffle by one of these puts the R, G, B and A of the pair's first or
// second texel of each pixel into 16-bit words, a zero byte above each.
#include <array>
#include <cstdint>

#include "platform/iosurface/pixel_values.h"

namespace kv::metal {

constexpr std::array<int8_t, 16> texelPairShuffle(int texel) {
    std::array<int8_t, 16> shuffle{};
    for (int pixel = 0; pixel < 2; ++pixel) {
        for (int c = 0; c < 4; ++c) {
            shuffle[size_t(8 * pixel + 2 * c)] = int8_t(8 * pixel + 4 * texel + int(kBgraOrder[c]));
            shuffle[size_t(8 * pixel + 2 * c + 1)] = -1;
        }
    }
    return shuffle;
}

inline constexpr std::array<int8_t, 16> kFirstOfPair = texelPairShuffle(0);
inline constexpr std::array<int8_t, 16> kSecondOfPair = texelPairShuffle(1);

}  // namespace kv::metal
