#pragma once
// Encoding records as the platform's JSON encoder does at its default
// settings: compact text, members in the order written, optional members
// left out when they hold no value (never written as null), and a number
// that is not finite fails the whole encoding.
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/foundation/json_coding.h"

namespace kv::json {

// A 32-bit float as a JSON number, written in the shortest text that reads
// back as the same float ("0.1", not 0.1 widened to a double). Throws
// JsonCodingError on NaN or an infinity.
Value floatNumber(float value, std::string_view key);

// Builds one JSON object, member by member.
class ObjectBuilder {
public:
    // A float goes through floatNumber; anything else as its JSON value.
    template <class T>
    ObjectBuilder& add(std::string_view key, const T& value) {
        if constexpr (std::is_same_v<T, float>) {
            object_[std::string(key)] = floatNumber(value, key);
        } else {
            object_[std::string(key)] = Value(value);
        }
        return *this;
    }

    // Leaves the member out when `value` is absent.
    template <class T>
    ObjectBuilder& addIfPresent(std::string_view key, const std::optional<T>& value) {
        if (value) add(key, *value);
        return *this;
    }

    // The object built; the builder is left empty.
    Value build() { return std::exchange(object_, Value::object()); }

private:
    Value object_ = Value::object();
};

}  // namespace kv::json

// The platform's JSON encoder. A record is encoded through its
// `encodeJson(const T&)`, which throws kv::JsonCodingError when the record
// cannot be written; that comes back as the Result's error.
class JSONEncoder {
public:
    template <class T>
    kv::Result<std::string> encode(const T& record) const {
        try {
            return text(encodeJson(record));
        } catch (const kv::JsonCodingError& e) {
            return kv::Error{e.what()};
        }
    }

    // Compact text of a value. Bytes in strings that are not UTF-8 are
    // written as U+FFFD, so the text is always valid UTF-8.
    static std::string text(const kv::json::Value& value);
};
