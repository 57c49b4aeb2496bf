#pragma once
// Lines written to a sink of the process (the system log, standard output),
// collected while a capture lives: tests read them, or wait for one written
// on another thread.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/process_setting.h"

namespace kv {

using LineSink = std::function<void(std::string_view)>;

class LineCapture {
public:
    // Installs a sink that keeps every line through `install`, the sink's
    // setter, and puts back the one before when the capture ends.
    explicit LineCapture(LineSink (*install)(LineSink));
    LineCapture(const LineCapture&) = delete;
    LineCapture& operator=(const LineCapture&) = delete;

    std::vector<std::string> lines() const;
    // How many captured lines contain `text`.
    size_t count(std::string_view text) const;
    void clear();
    // Waits until a captured line starts with `prefix`; false when none has
    // come within `timeout`.
    bool waitForLineStartingWith(std::string_view prefix, std::chrono::milliseconds timeout) const;

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable added;
        std::vector<std::string> lines;
    };
    std::shared_ptr<Shared> shared_;  // before the override, which installs a sink that holds it
    ScopedOverride<LineSink> override_;
};

}  // namespace kv
