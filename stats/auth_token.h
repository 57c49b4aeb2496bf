#pragma once
// The request token of a statistics upload: a six-digit one-time code that
// changes every 30 seconds (in the shape of RFC 6238: HMAC-SHA1 over the
// 30-second step, dynamically truncated), keyed by a secret of the program
// joined with the installation identifier that the message carries.
#include <array>
#include <cstdint>
#include <string>

#include "stats/stat_message.h"

namespace kv {

struct Auth {
    using Key = std::array<uint8_t, 20>;

    // The token for `message`: from its `app.ins` and the current time.
    // Empty when the message has no `app` record or the code cannot be made.
    static std::string makeAuthToken(const Message& message);

    // The 16 secret bytes, then the low 32 bits of `installation`, most
    // significant byte first.
    static Key tokenKey(uint64_t installation);

    // The six-digit code of time step `step` (milliseconds since 1970
    // divided by 30000) under `key`; empty when the HMAC fails.
    static std::string oneTimeCode(const Key& key, uint64_t step);
};

}  // namespace kv
