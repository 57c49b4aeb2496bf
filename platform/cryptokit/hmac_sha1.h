#pragma once
// HMAC (RFC 2104) with SHA-1, as the statistics request token needs it.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

struct HMACSHA1 {
    using Code = std::array<uint8_t, 20>;

    // The 20-byte authentication code of `message` under `key`; none when
    // the computation fails.
    static std::optional<Code> authenticate(std::span<const uint8_t> key, std::span<const uint8_t> message);
};
