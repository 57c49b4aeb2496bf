#include "platform/foundation/standard_output.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kv {
namespace {

struct Output {
    std::mutex mutex;
    StandardOutputSink sink;
};

// Never destroyed: lines may still come from other threads while the
// process ends.
Output& output() {
    static Output& o = *new Output;
    return o;
}

}  // namespace

void printLine(std::string_view line) {
    Output& o = output();
    std::lock_guard lock(o.mutex);
    if (o.sink) {
        o.sink(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

StandardOutputSink setStandardOutputSink(StandardOutputSink sink) {
    Output& o = output();
    std::lock_guard lock(o.mutex);
    return std::exchange(o.sink, std::move(sink));
}

StandardOutputCapture::StandardOutputCapture() : shared_(std::make_shared<Shared>()) {
    previous_ = setStandardOutputSink([shared = shared_](std::string_view line) {
        std::lock_guard lock(shared->mutex);
        shared->lines.emplace_back(line);
        shared->added.notify_all();
    });
}

StandardOutputCapture::~StandardOutputCapture() { setStandardOutputSink(std::move(previous_)); }

std::vector<std::string> StandardOutputCapture::lines() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lines;
}

void StandardOutputCapture::clear() {
    std::lock_guard lock(shared_->mutex);
    shared_->lines.clear();
}

bool StandardOutputCapture::waitForLineStartingWith(std::string_view prefix,
                                                    std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->added.wait_for(lock, timeout, [&] {
        return std::any_of(shared_->lines.begin(), shared_->lines.end(),
                           [&](const std::string& line) { return line.starts_with(prefix); });
    });
}

}  // namespace kv
