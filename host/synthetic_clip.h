#pragma once
// A clip made from nothing but its settings, the same every time: a textured
// square moving in a straight line over a textured background, at constant
// speed from its first position to its last over the clip. Analyses of it
// should find motion where the square is and nowhere else.
#include <cstdint>

#include "host/clip_source.h"

namespace kv::host {

struct SyntheticClipSettings {
    ClipFormat format{320, 180, 90, CMTimeMake(1, 30), CMTimeMake(0, 30)};
    uint32_t seed = 1;
};

// A rectangle of pixels: columns [x, x + width), rows [y, y + height).
struct PixelRect {
    int64_t x = 0;
    int64_t y = 0;
    int64_t width = 0;
    int64_t height = 0;

    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

class SyntheticClip final : public ClipSource {
public:
    explicit SyntheticClip(SyntheticClipSettings settings = {});

    ClipFormat format() const override { return settings_.format; }
    Frame frame(int64_t index) const override;

    // Where the square lies in frame `index`.
    PixelRect objectRect(int64_t index) const;

private:
    SyntheticClipSettings settings_;
};

}  // namespace kv::host
