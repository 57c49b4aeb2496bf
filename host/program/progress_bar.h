#pragma once
// A progress bar with the speed in frames per second, redrawn in place on a
// terminal a few times a second. Off, it writes nothing at all.
#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace kv::host {

// One line of the bar: "Analyzing  42/280 [=====>      ]  15%  23.4 fps".
std::string progressLine(std::string_view label, int64_t done, int64_t total, double fps);

class ProgressBar {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    ProgressBar(std::ostream& out, bool enabled, std::string label, Clock clock = std::chrono::steady_clock::now);

    void update(int64_t done, int64_t total);
    // Draws the last state and ends the line.
    void finish();

private:
    void draw();

    std::ostream& out_;
    bool enabled_;
    std::string label_;
    Clock clock_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDrawn_;
    bool drawn_ = false;
    int64_t done_ = 0;
    int64_t total_ = 0;
};

}  // namespace kv::host
