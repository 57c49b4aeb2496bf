#pragma once
// Frame pairs for checking and measuring the frame differencing: made-up
// textures with known motion, and frames decoded from the real footage.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fdframes {

// Packed RGBA float pixels, as the host hands them in.
struct Frame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<float> pixels;

    Frame() = default;
    Frame(int32_t w, int32_t h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 4, 1.0f) {}
    float* at(int32_t row, int32_t col) { return pixels.data() + 4 * (static_cast<size_t>(row) * width + col); }
    const float* at(int32_t row, int32_t col) const {
        return pixels.data() + 4 * (static_cast<size_t>(row) * width + col);
    }
    const float* data() const { return pixels.data(); }
};

Frame uniformFrame(int32_t width, int32_t height, float r, float g, float b);
// Independent random values in [0, 1) per channel.
Frame noiseFrame(int32_t width, int32_t height, uint32_t seed);
// Smooth high-contrast texture (sums of random waves a dozen pixels or more
// long), on which the descent can follow a shift.
Frame texturedFrame(int32_t width, int32_t height, uint32_t seed);
// Blocks of random flat colours: sharp edges everywhere.
Frame blocksFrame(int32_t width, int32_t height, int32_t blockSize, uint32_t seed);

// The frame with the content of the rectangle [top, top + size) x [left, left
// + size) moved by (dx, dy) pixels: out(r, c) = in(r - dy, c - dx) there.
Frame withMovedPatch(const Frame& frame, int32_t top, int32_t left, int32_t size, int32_t dx, int32_t dy);
// The whole frame moved by (dx, dy), edge pixels repeated where nothing comes in.
Frame shifted(const Frame& frame, int32_t dx, int32_t dy);

// Consecutive frames of a footage file, scaled to width x height by the ffmpeg
// program; nothing when the program or the file is missing.
std::optional<std::vector<Frame>> decodeFootage(const std::string& path, int32_t width, int32_t height,
                                                int32_t frameCount, int32_t firstFrame = 0);

// Where the real footage lies: the folder shared/footage beside the project.
std::string footagePath(const std::string& name);

}  // namespace fdframes
