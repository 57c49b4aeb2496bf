#include "platform/foundation/log.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace {

// Never destroyed: other threads may still log while the process exits.
kv::ProcessSetting<kv::LogSink>& installedSink() {
    static auto& sink = *new kv::ProcessSetting<kv::LogSink>;
    return sink;
}

}  // namespace

void NSLog(std::string_view message) {
    // Under the setting's lock, so that lines from several threads never mix.
    installedSink().use([&](const kv::LogSink& sink) {
        if (sink) {
            sink(message);
        } else {
            kv::writeLogLine(stderr, kv::logLine(message));
        }
    });
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

void writeLogLine(std::FILE* stream, std::string_view line) {
    // Written as bytes, so that no character of the message is interpreted or cut.
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

LogSink setLogSink(LogSink sink) { return installedSink().exchange(std::move(sink)); }

}  // namespace kv
