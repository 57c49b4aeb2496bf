#include "host/synthetic_clip.h"

#include <algorithm>
#include <cmath>

namespace kv::host {
namespace {

uint32_t mix(uint32_t a) {
    a ^= a >> 16;
    a *= 0x7feb352du;
    a ^= a >> 15;
    a *= 0x846ca68bu;
    a ^= a >> 16;
    return a;
}

// A value in [0, 1) fixed by the seed, the cell and the channel.
float cellNoise(uint32_t seed, int64_t cellX, int64_t cellY, uint32_t channel) {
    const uint32_t h = mix(seed ^ mix(uint32_t(cellX) * 0x9e3779b9u ^ mix(uint32_t(cellY) + channel * 0x85ebca6bu)));
    return float(h >> 8) / float(1u << 24);
}

// Background cells: small enough that block matching finds structure anywhere.
constexpr int64_t kBackgroundCell = 4;

int64_t lerp(int64_t from, int64_t to, int64_t step, int64_t steps) {
    return steps <= 0 ? from : from + (to - from) * step / steps;
}

}  // namespace

SyntheticClip::SyntheticClip(SyntheticClipSettings settings) : settings_(settings) {}

PixelRect SyntheticClip::objectRect(int64_t index) const {
    const ClipFormat& f = settings_.format;
    const int64_t side = std::max<int64_t>(1, std::min(f.width, f.height) / 4);
    const int64_t steps = f.frameCount - 1;
    const int64_t x0 = f.width / 10;
    const int64_t x1 = std::max(x0, f.width - f.width / 10 - side);
    const int64_t y0 = std::max<int64_t>(0, (f.height - side) / 3);
    const int64_t y1 = std::max(y0, 2 * (f.height - side) / 3);
    const int64_t i = std::clamp<int64_t>(index, 0, std::max<int64_t>(0, steps));
    return PixelRect{lerp(x0, x1, i, steps), lerp(y0, y1, i, steps), side, side};
}

Frame SyntheticClip::frame(int64_t index) const {
    const ClipFormat& f = settings_.format;
    Frame out{f.width, f.height, std::vector<float>(size_t(f.width) * size_t(f.height) * 4)};
    const PixelRect object = objectRect(index);
    const uint32_t seed = settings_.seed;
    float* pixel = out.rgba.data();
    for (int64_t y = 0; y < f.height; ++y) {
        for (int64_t x = 0; x < f.width; ++x, pixel += 4) {
            const bool inObject =
                x >= object.x && x < object.x + object.width && y >= object.y && y < object.y + object.height;
            // The square's texture moves with it (counted from its corner) and
            // is smooth, so that block matching can follow it.
            const double wave =
                inObject ? 0.5 + 0.5 * std::sin(double(x - object.x) * 0.45) * std::sin(double(y - object.y) * 0.41)
                         : 0.0;
            for (uint32_t c = 0; c < 3; ++c) {
                pixel[c] = inObject ? float(wave * wave * wave) * (1.0f - 0.2f * float(c))
                                    : 0.15f + 0.35f * cellNoise(seed, x / kBackgroundCell, y / kBackgroundCell, c);
            }
            pixel[3] = 1.0f;
        }
    }
    return out;
}

}  // namespace kv::host
