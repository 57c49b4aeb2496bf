#include "platform/coremedia/cmtime_coding.h"

namespace kv {

json::Value encodeJson(const CMTime& time) { return json::Value{{"tv", time.value}, {"ts", time.timescale}}; }

CMTime decodeCMTime(const json::Reader& reader) {
    const int64_t value = reader.int64("tv");
    const int32_t timescale = reader.int32("ts");
    // Every stored time is a valid one; no timescale of 0 or below was ever written.
    if (timescale <= 0) json::fail("ts", "a timescale must be positive");
    return CMTimeMake(value, timescale);
}

std::string timeText(CMTime time) { return std::to_string(time.value) + "/" + std::to_string(time.timescale); }

}  // namespace kv
