#include "platform/foundation/json_coding.h"

#include <cmath>

namespace kv::json {

void fail(std::string_view key, std::string_view what) {
    throw JsonCodingError("\"" + std::string(key) + "\": " + std::string(what));
}

double finiteNumber(double value, std::string_view key) {
    if (!std::isfinite(value)) fail(key, "a number that is not finite has no JSON form");
    return value;
}

Reader::Reader(const Value& value, std::string_view name) : value_(value), name_(name) {
    if (!value_.is_object()) fail(name_, "expected an object");
}

const Value& Reader::member(std::string_view key) const {
    const auto it = value_.find(key);
    if (it == value_.end()) fail(key, "required key is missing");
    if (it->is_null()) fail(key, "expected a value, found null");
    return *it;
}

Reader Reader::object(std::string_view key) const { return Reader(member(key), key); }

int64_t Reader::int64(const Value& value, std::string_view key) {
    if (value.is_number_unsigned()) {
        const uint64_t v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(INT64_MAX)) fail(key, "integer out of the signed 64-bit range");
        return static_cast<int64_t>(v);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) {
        // A whole number written with a fraction or exponent ("12.0", "1e3").
        const double d = value.get<double>();
        constexpr double kTwoTo63 = 9223372036854775808.0;
        if (d != std::trunc(d)) fail(key, "expected an integer, found a fraction");
        if (!(d >= -kTwoTo63 && d < kTwoTo63)) fail(key, "integer out of the signed 64-bit range");
        return static_cast<int64_t>(d);
    }
    fail(key, "expected an integer");
}

int32_t Reader::int32(const Value& value, std::string_view key) {
    const int64_t v = int64(value, key);
    if (v < INT32_MIN || v > INT32_MAX) fail(key, "integer out of the signed 32-bit range");
    return static_cast<int32_t>(v);
}

double Reader::number(const Value& value, std::string_view key) {
    if (!value.is_number()) fail(key, "expected a number");
    return value.get<double>();
}

bool Reader::boolean(const Value& value, std::string_view key) {
    if (!value.is_boolean()) fail(key, "expected a boolean");
    return value.get<bool>();
}

}  // namespace kv::json
