#pragma once
// Deterministic test frames: a textured square on a flat grey background, in packed RGBA floats.
#include <cmath>
#include <cstdint>
#include <vector>

namespace kv::testing {

// Paints the textured square over `pixels`, a frame `width` pixels wide.
inline void paintSquare(std::vector<float>& pixels, int width, int left, int top, int side) {
    const int height = static_cast<int>(pixels.size() / 4 / static_cast<size_t>(width));
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            float* p = &pixels[(static_cast<size_t>(r) * width + c) * 4];
            p[3] = 1.0f;
            if (r < top || r >= top + side || c < left || c >= left + side) continue;
            // Dark blobs of light that move with the square: the pattern
            // depends on the square's own coordinates.
            const double u = c - left, v = r - top;
            const double s = 0.5 + 0.5 * std::sin(u * 0.45) * std::sin(v * 0.41);
            p[0] = static_cast<float>(s * s * s);
            p[1] = static_cast<float>(0.8 * s * s * s);
            p[2] = static_cast<float>(0.6 * s * s * s);
        }
    }
}

inline std::vector<float> frameWithSquare(int width, int height, int left, int top, int side) {
    std::vector<float> pixels(static_cast<size_t>(width) * height * 4, 0.5f);
    paintSquare(pixels, width, left, top, side);
    return pixels;
}

inline std::vector<float> flatFrame(int width, int height, float grey) {
    return std::vector<float>(static_cast<size_t>(width) * height * 4, grey);
}

}  // namespace kv::testing
