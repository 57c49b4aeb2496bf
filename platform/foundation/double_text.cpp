#include "platform/foundation/double_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kv {

std::string doubleText(double value) {
    if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    // Shortest round-trip digits, read off the scientific form "d.ddde±x".
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string scientific(buffer, result.ptr);
    const size_t e = scientific.find('e');
    std::string digits = scientific.substr(0, e);
    if (digits.size() > 1) digits.erase(1, 1);  // drop the point
    const int exponent = std::atoi(scientific.c_str() + e + 1);

    std::string text = value < 0 ? "-" : "";
    constexpr double kTwoTo53 = 9007199254740992.0;
    if (exponent < -4 || std::fabs(value) > kTwoTo53) {
        text += digits[0];
        if (digits.size() > 1) text += "." + digits.substr(1);
        text += exponent < 0 ? "e-" : "e+";
        const int magnitude = std::abs(exponent);
        if (magnitude < 10) text += '0';
        text += std::to_string(magnitude);
        return text;
    }
    if (exponent < 0) {
        text += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
        return text;
    }
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
        text += digits + std::string(integerDigits - digits.size(), '0') + ".0";
    } else {
        text += digits.substr(0, integerDigits) + "." + digits.substr(integerDigits);
    }
    return text;
}

std::string roundedText(double value, int decimals) {
    if (!std::isfinite(value)) return doubleText(value);
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return doubleText(value);
    std::string text(buffer, result.ptr);
    // A value that rounds to zero shows no sign.
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    return text;
}

}  // namespace kv
