#pragma once
// The stored and printed forms of a time. Stored, a time is the JSON object
// {"tv": value, "ts": timescale}; printed (in log lines), "value/timescale".
#include <string>

#include "platform/coremedia/cmtime.h"
#include "platform/foundation/json_coding.h"

namespace kv {

json::Value encodeJson(const CMTime& time);

// A valid time of epoch 0; a timescale of 0 or below is a coding error.
CMTime decodeCMTime(const json::Reader& reader);

// "value/timescale", such as "1001/30000".
std::string timeText(CMTime time);

}  // namespace kv
