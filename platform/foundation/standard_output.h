#pragma once
// Lines for standard output, as the platform's print writes them: the text
// and a newline, flushed at once, one line never mixed with another. Tests
// install a sink instead and can wait for lines written on other threads.
#include <string_view>

#include "platform/foundation/line_capture.h"

namespace kv {

void printLine(std::string_view line);

using StandardOutputSink = LineSink;

// Replaces where printed lines go; an empty sink restores standard output.
// Returns the sink that was installed before.
StandardOutputSink setStandardOutputSink(StandardOutputSink sink);

// Collects every line printed while it lives, from any thread.
class StandardOutputCapture : public LineCapture {
public:
    StandardOutputCapture() : LineCapture(setStandardOutputSink) {}
};

}  // namespace kv
