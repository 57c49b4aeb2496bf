#include "platform/foundation/json_encoder.h"

#include <charconv>
#include <cstdlib>

namespace kv::json {

Value floatNumber(float value, std::string_view key) {
    finiteNumber(value, key);
    // The float's shortest text, read as a double, is written back as that
    // same text by the JSON writer, and reads back as the same float.
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    double widened = 0;
    std::from_chars(digits, end, widened);  // whatever the process's locale
    return Value(widened);
}

}  // namespace kv::json

std::string JSONEncoder::text(const kv::json::Value& value) {
    return value.dump(-1, ' ', false, kv::json::Value::error_handler_t::replace);
}
