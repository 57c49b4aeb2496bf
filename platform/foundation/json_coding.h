#pragma once
// Strict JSON coding for records, in the manner of the platform's default
// JSON encoder and decoder: every member is required, types are checked
// exactly (an integer member rejects 12.5 and values outside its range, a
// number member accepts integers), and a value that is not finite cannot be
// encoded. Record coders throw JsonCodingError; the text-level entry points
// turn it into a Result so that no exception leaves a module.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/result.h"

namespace kv {

struct JsonCodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace json {

using Value = nlohmann::ordered_json;

[[noreturn]] void fail(std::string_view key, std::string_view what);

// Encoding: the value itself, or an error when it is NaN or infinite.
double finiteNumber(double value, std::string_view key);

// Reads the members of one JSON object by key.
class Reader {
public:
    Reader(const Value& value, std::string_view name);
    Reader(Value&&, std::string_view) = delete;  // it keeps a reference to the value

    const Value& member(std::string_view key) const;  // present and not null
    Reader object(std::string_view key) const;
    int64_t int64(std::string_view key) const { return int64(member(key), key); }
    int32_t int32(std::string_view key) const { return int32(member(key), key); }
    double number(std::string_view key) const { return number(member(key), key); }
    bool boolean(std::string_view key) const { return boolean(member(key), key); }

    // Each element decoded by decodeElement(const Reader&).
    template <class F>
    auto array(std::string_view key, F decodeElement) const {
        const Value& list = member(key);
        if (!list.is_array()) fail(key, "expected an array");
        std::vector<decltype(decodeElement(std::declval<const Reader&>()))> out;
        out.reserve(list.size());
        for (const Value& element : list) out.push_back(decodeElement(Reader(element, key)));
        return out;
    }

    // Checks on single values, for coders of values that are not objects.
    static int64_t int64(const Value& value, std::string_view key);
    static int32_t int32(const Value& value, std::string_view key);
    static double number(const Value& value, std::string_view key);
    static bool boolean(const Value& value, std::string_view key);

private:
    const Value& value_;
    std::string_view name_;
};

// Record to JSON text; a coding error becomes the Result's error.
template <class T, class Encode>
Result<std::string> encodeText(const T& record, Encode encode) {
    try {
        return encode(record).dump();
    } catch (const JsonCodingError& e) {
        return Error{e.what()};
    }
}

// JSON text to record; malformed text or a coding error becomes the error.
template <class Decode>
auto decodeText(std::string_view text, Decode decode) -> Result<decltype(decode(std::declval<const Reader&>()))> {
    Value document = Value::parse(text, nullptr, false);
    if (document.is_discarded()) return Error{"The data is not valid JSON."};
    try {
        return decode(Reader(document, "document"));
    } catch (const JsonCodingError& e) {
        return Error{e.what()};
    }
}

}  // namespace json
}  // namespace kv
