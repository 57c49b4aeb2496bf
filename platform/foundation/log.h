#pragma once
// The system log. Every message is written verbatim as one line: the text is
// never read as a format. Lines go to standard error with a time stamp and
// the process id, unless a sink is installed (tests capture lines that way).
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

void NSLog(std::string_view message);

namespace kv {

using LogSink = std::function<void(std::string_view)>;

// The line the system log writes for `message`, without its line feed:
// "2026-12-09 02:41:02.123 Kestrelvantage[4242] message" (local time, with
// milliseconds, and the process id). Standard error gets exactly this; a
// sink that keeps lines for people (a log file) writes it too.
std::string logLine(std::string_view message);

// Writes a line made by logLine, and a line feed, to standard error.
void writeLogLineToStandardError(std::string_view line);

// Replaces where log lines go; an empty sink restores standard error.
// Returns the sink that was installed before.
LogSink setLogSink(LogSink sink);

// Collects every log line written while it lives (tests use it).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // How many captured lines contain `text`.
    size_t count(std::string_view text) const;
    void clear();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    LogSink previous_;
};

}  // namespace kv
