#include "host/program/progress_bar.h"

#include <algorithm>
#include <cstdio>

namespace kv::host {
namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

}  // namespace

std::string progressLine(std::string_view label, int64_t done, int64_t total, double fps) {
    const double fraction = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0.0;
    const int filled = int(fraction * kBarWidth);
    std::string bar(size_t(filled), '=');
    if (filled < kBarWidth) bar += done > 0 ? ">" : " ";
    bar.resize(kBarWidth, ' ');
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, " %lld/%lld [", static_cast<long long>(done),
                  static_cast<long long>(total));
    char tail[64];
    std::snprintf(tail, sizeof tail, "] %3d%% %6.1f fps", int(fraction * 100), fps);
    return std::string(label) + numbers + bar + tail;
}

ProgressBar::ProgressBar(std::ostream& out, bool enabled, std::string label, Clock clock)
    : out_(out), enabled_(enabled), label_(std::move(label)), clock_(std::move(clock)) {
    start_ = clock_();
    lastDrawn_ = start_;
}

void ProgressBar::update(int64_t done, int64_t total) {
    done_ = done;
    total_ = total;
    if (!enabled_) return;
    const auto now = clock_();
    if (drawn_ && now - lastDrawn_ < kRedrawEvery && done < total) return;
    lastDrawn_ = now;
    draw();
}

void ProgressBar::finish() {
    if (!enabled_ || !drawn_) return;
    draw();
    out_ << '\n' << std::flush;
}

void ProgressBar::draw() {
    const double seconds = std::chrono::duration<double>(clock_() - start_).count();
    const double fps = seconds > 1e-9 ? double(done_) / seconds : 0.0;
    out_ << '\r' << progressLine(label_, done_, total_, fps) << std::flush;
    drawn_ = true;
}

}  // namespace kv::host
