#include "platform/foundation/utf8.h"

#include <cstdint>

namespace kv {

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Length of the sequence and the range its second byte may take;
        // the narrow ranges rule out overlong forms, surrogates and values
        // above U+10FFFF.
        size_t length = 0;
        uint8_t low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length) return false;
        const auto second = static_cast<uint8_t>(bytes[i + 1]);
        if (second < low || second > high) return false;
        for (size_t k = 2; k < length; ++k) {
            const auto next = static_cast<uint8_t>(bytes[i + k]);
            if (next < 0x80 || next > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace kv
