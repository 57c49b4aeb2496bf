#include "stats/auth_token.h"

#include <span>

#include "platform/cryptokit/hmac_sha1.h"
#include "platform/foundation/date.h"

namespace kv {
namespace {

// The secret part of the token key. Each of the first 16 entries stands for
// one byte: 0..255 as is, -256..-1 plus 256. The last four are not used.
const std::array<int, 20>& keyTable() {
    static const std::array<int, 20> table{-7,  159, 204, 95,  -96, 124, -47, -101, -125, 32,
                                           -202, 195, 180, -161, 56, 130, -6,  -243, 143,  -14};
    return table;
}

uint8_t keyByte(int entry) { return static_cast<uint8_t>(entry < 0 ? entry + 256 : entry); }

}  // namespace

Auth::Key Auth::tokenKey(uint64_t installation) {
    Key key{};
    for (size_t i = 0; i < 16; ++i) key[i] = keyByte(keyTable()[i]);
    const auto low = static_cast<uint32_t>(installation);
    for (size_t i = 0; i < 4; ++i) key[16 + i] = static_cast<uint8_t>(low >> (24 - 8 * i));
    return key;
}

std::string Auth::oneTimeCode(const Key& key, uint64_t step) {
    std::array<uint8_t, 8> counter{};
    for (size_t i = 0; i < 8; ++i) counter[i] = static_cast<uint8_t>(step >> (56 - 8 * i));
    const auto mac = HMACSHA1::authenticate(key, counter);
    if (!mac) return "";
    // Dynamic truncation: four bytes from the offset in the last byte's low
    // bits, top bit cleared, reduced to six digits.
    const size_t offset = (*mac)[19] & 0x0F;
    const uint32_t bits = (uint32_t((*mac)[offset]) << 24 | uint32_t((*mac)[offset + 1]) << 16 |
                           uint32_t((*mac)[offset + 2]) << 8 | uint32_t((*mac)[offset + 3])) &
                          0x7FFFFFFFu;
    std::string code = std::to_string(bits % 1000000);
    return std::string(6 - code.size(), '0') + code;
}

std::string Auth::makeAuthToken(const Message& message) {
    if (!message.app) return "";
    return oneTimeCode(tokenKey(message.app->ins), millisecondsSince1970() / 30000);
}

}  // namespace kv
