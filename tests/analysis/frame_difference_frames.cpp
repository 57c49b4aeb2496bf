#include "tests/analysis/frame_difference_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <numbers>
#include <random>

namespace fdframes {

Frame uniformFrame(int32_t width, int32_t height, float r, float g, float b) {
    Frame frame(width, height);
    for (size_t i = 0; i + 3 < frame.pixels.size(); i += 4) {
        frame.pixels[i] = r;
        frame.pixels[i + 1] = g;
        frame.pixels[i + 2] = b;
    }
    return frame;
}

Frame noiseFrame(int32_t width, int32_t height, uint32_t seed) {
    Frame frame(width, height);
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    for (size_t i = 0; i < frame.pixels.size(); ++i)
        if (i % 4 != 3) frame.pixels[i] = value(random);
    return frame;
}

Frame texturedFrame(int32_t width, int32_t height, uint32_t seed) {
    struct Wave {
        double kx, ky, phase, amplitude;
    };
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Wave> waves[3];
    for (auto& channel : waves) {
        for (int n = 0; n < 6; ++n) {
            const double length = 12.0 + 28.0 * unit(random);
            const double angle = 2 * std::numbers::pi * unit(random);
            const double k = 2 * std::numbers::pi / length;
            channel.push_back({k * std::cos(angle), k * std::sin(angle), 2 * std::numbers::pi * unit(random),
                               0.15 + 0.15 * unit(random)});
        }
    }
    Frame frame(width, height);
    for (int32_t r = 0; r < height; ++r) {
        for (int32_t c = 0; c < width; ++c) {
            for (int ch = 0; ch < 3; ++ch) {
                double v = 0;
                for (const Wave& w : waves[ch]) v += w.amplitude * std::sin(w.kx * c + w.ky * r + w.phase);
                frame.at(r, c)[ch] = static_cast<float>(std::clamp(v, 0.0, 1.0));
            }
        }
    }
    return frame;
}

Frame blocksFrame(int32_t width, int32_t height, int32_t blockSize, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    const int32_t columns = (width + blockSize - 1) / blockSize;
    const int32_t rows = (height + blockSize - 1) / blockSize;
    std::vector<float> colours(static_cast<size_t>(rows) * columns * 3);
    for (float& c : colours) c = value(random);
    Frame frame(width, height);
    for (int32_t r = 0; r < height; ++r) {
        for (int32_t c = 0; c < width; ++c) {
            const float* colour = &colours[3 * (static_cast<size_t>(r / blockSize) * columns + c / blockSize)];
            std::copy(colour, colour + 3, frame.at(r, c));
        }
    }
    return frame;
}

Frame withMovedPatch(const Frame& frame, int32_t top, int32_t left, int32_t size, int32_t dx, int32_t dy) {
    Frame out = frame;
    for (int32_t r = std::max(top, 0); r < std::min(top + size, frame.height); ++r) {
        for (int32_t c = std::max(left, 0); c < std::min(left + size, frame.width); ++c) {
            const int32_t sr = std::clamp(r - dy, 0, frame.height - 1);
            const int32_t sc = std::clamp(c - dx, 0, frame.width - 1);
            std::copy(frame.at(sr, sc), frame.at(sr, sc) + 4, out.at(r, c));
        }
    }
    return out;
}

Frame shifted(const Frame& frame, int32_t dx, int32_t dy) {
    return withMovedPatch(frame, 0, 0, std::max(frame.width, frame.height), dx, dy);
}

std::optional<std::vector<Frame>> decodeFootage(const std::string& path, int32_t width, int32_t height,
                                                int32_t frameCount, int32_t firstFrame) {
    if (!std::filesystem::exists(path) || std::system("ffmpeg -version >/dev/null 2>&1") != 0) return std::nullopt;
    const std::string command = "ffmpeg -v fatal -nostdin -i '" + path + "' -vf 'select=gte(n\\," +
                                std::to_string(firstFrame) + "),scale=" + std::to_string(width) + ":" +
                                std::to_string(height) + "' -frames:v " + std::to_string(frameCount) +
                                " -fps_mode passthrough -f rawvideo -pix_fmt rgba -";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::vector<Frame> frames;
    std::vector<uint8_t> bytes(static_cast<size_t>(width) * height * 4);
    while (static_cast<int32_t>(frames.size()) < frameCount &&
           std::fread(bytes.data(), 1, bytes.size(), pipe) == bytes.size()) {
        Frame frame(width, height);
        for (size_t i = 0; i < bytes.size(); ++i) frame.pixels[i] = static_cast<float>(bytes[i]) / 255.0f;
        frames.push_back(std::move(frame));
    }
    const int status = pclose(pipe);
    if (status != 0 || static_cast<int32_t>(frames.size()) != frameCount) return std::nullopt;
    return frames;
}

std::string footagePath(const std::string& name) { return (std::filesystem::path(KV_FOOTAGE_DIR) / name).string(); }

}  // namespace fdframes
