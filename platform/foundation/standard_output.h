#pragma once
// Lines for standard output, as the platform's print writes them: the text
// and a newline, flushed at once, one line never mixed with another. Tests
// install a sink instead and can wait for lines written on other threads.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

void printLine(std::string_view line);

using StandardOutputSink = std::function<void(std::string_view)>;

// Replaces where printed lines go; an empty sink restores standard output.
// Returns the sink that was installed before.
StandardOutputSink setStandardOutputSink(StandardOutputSink sink);

// Collects every line printed while it lives, from any thread.
class StandardOutputCapture {
public:
    StandardOutputCapture();
    ~StandardOutputCapture();
    StandardOutputCapture(const StandardOutputCapture&) = delete;
    StandardOutputCapture& operator=(const StandardOutputCapture&) = delete;

    std::vector<std::string> lines() const;
    void clear();
    // Waits until a captured line starts with `prefix`; false when none has
    // come within `timeout`.
    bool waitForLineStartingWith(std::string_view prefix, std::chrono::milliseconds timeout) const;

private:
    struct Shared {
        mutable std::mutex mutex;
        mutable std::condition_variable added;
        std::vector<std::string> lines;
    };
    std::shared_ptr<Shared> shared_;
    StandardOutputSink previous_;
};

}  // namespace kv
