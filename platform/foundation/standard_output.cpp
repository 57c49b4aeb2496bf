#include "platform/foundation/standard_output.h"

#include <cstdio>
#include <utility>

namespace kv {
namespace {

// Never destroyed: lines may still come from other threads while the
// process ends.
ProcessSetting<StandardOutputSink>& installedSink() {
    static auto& sink = *new ProcessSetting<StandardOutputSink>;
    return sink;
}

}  // namespace

void printLine(std::string_view line) {
    // Under the setting's lock, so that lines from several threads never mix.
    installedSink().use([&](const StandardOutputSink& sink) {
        if (sink) {
            sink(line);
            return;
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    });
}

StandardOutputSink setStandardOutputSink(StandardOutputSink sink) { return installedSink().exchange(std::move(sink)); }

}  // namespace kv
