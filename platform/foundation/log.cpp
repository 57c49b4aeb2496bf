#include "platform/foundation/log.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <utility>

namespace {

std::mutex& sinkMutex() {
    // Never destroyed: other threads may still use it while the process exits.
    static std::mutex& m = *new std::mutex();
    return m;
}

kv::LogSink& currentSink() {
    // Never destroyed: other threads may still use it while the process exits.
    static kv::LogSink& sink = *new kv::LogSink();
    return sink;
}

}  // namespace

void NSLog(std::string_view message) {
    std::lock_guard lock(sinkMutex());
    if (currentSink()) {
        currentSink()(message);
    } else {
        kv::writeLogLineToStandardError(kv::logLine(message));
    }
}

namespace kv {

std::string logLine(std::string_view message) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[96];
    const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const int prefix = std::snprintf(stamp + n, sizeof stamp - n, ".%03lld Kestrelvantage[%d] ",
                                     static_cast<long long>(millis), static_cast<int>(getpid()));
    std::string line(stamp, n + static_cast<size_t>(std::max(prefix, 0)));
    line += message;
    return line;
}

void writeLogLineToStandardError(std::string_view line) {
    // Written as bytes, so that no character of the message is interpreted or cut.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

struct LogCapture::Shared {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
};

LogCapture::LogCapture() : shared_(std::make_shared<Shared>()) {
    previous_ = setLogSink([shared = shared_](std::string_view line) {
        std::lock_guard lock(shared->mutex);
        shared->lines.emplace_back(line);
    });
}

LogCapture::~LogCapture() { setLogSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->lines;
}

size_t LogCapture::count(std::string_view text) const {
    std::lock_guard lock(shared_->mutex);
    size_t n = 0;
    for (const auto& line : shared_->lines) n += line.find(text) != std::string::npos;
    return n;
}

void LogCapture::clear() {
    std::lock_guard lock(shared_->mutex);
    shared_->lines.clear();
}

}  // namespace kv
