#pragma once
// The system log. Every message is written verbatim as one line: the text is
// never read as a format. Lines go to standard error with a time stamp and
// the process id, unless a sink is installed (tests capture lines that way).
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/foundation/line_capture.h"

void NSLog(std::string_view message);

namespace kv {

using LogSink = LineSink;

// The line the system log writes for `message`, without its line feed:
// "2026-12-09 02:41:02.123 Kestrelvantage[4242] message" (local time, with
// milliseconds, and the process id). Standard error gets exactly this; a
// sink that keeps lines for people (a log file) writes it too.
std::string logLine(std::string_view message);

// Writes a line made by logLine, and a line feed, to `stream` (standard
// error, a log file), and flushes it.
void writeLogLine(std::FILE* stream, std::string_view line);

// Replaces where log lines go; an empty sink restores standard error.
// Returns the sink that was installed before.
LogSink setLogSink(LogSink sink);

// Collects every log line written while it lives (tests use it).
class LogCapture : public LineCapture {
public:
    LogCapture() : LineCapture(setLogSink) {}
};

}  // namespace kv
