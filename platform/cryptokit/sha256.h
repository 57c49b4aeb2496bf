#pragma once
// SHA-256 digests, with the platform's text form of a digest.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

struct SHA256Digest {
    std::array<uint8_t, 32> bytes{};

    // "SHA256 digest: " followed by the 64 lowercase hex digits of the bytes.
    std::string description() const;

    friend bool operator==(const SHA256Digest&, const SHA256Digest&) = default;
};

struct SHA256 {
    static SHA256Digest hash(std::string_view data);
};
