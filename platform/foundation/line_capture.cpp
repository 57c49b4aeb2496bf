#include "platform/foundation/line_capture.h"

#include <algorithm>

namespace kv {

LineCapture::LineCapture(LineSink (*install)(LineSink))
    : shared_(std::make_shared<Shared>()), override_(install, [shared = shared_](std::string_view line) {
          std::lock_guard lock(shared->mutex);
          shared->lines.emplace_back(line);
          shared->added.notify_all();
      }) {}

std::vector<std::string> LineCapture::lines() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lines;
}

size_t LineCapture::count(std::string_view text) const {
    std::lock_guard lock(shared_->mutex);
    return size_t(std::count_if(shared_->lines.begin(), shared_->lines.end(),
                                [&](const std::string& line) { return line.find(text) != std::string::npos; }));
}

void LineCapture::clear() {
    std::lock_guard lock(shared_->mutex);
    shared_->lines.clear();
}

bool LineCapture::waitForLineStartingWith(std::string_view prefix, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->added.wait_for(lock, timeout, [&] {
        return std::any_of(shared_->lines.begin(), shared_->lines.end(),
                           [&](const std::string& line) { return line.starts_with(prefix); });
    });
}

}  // namespace kv
