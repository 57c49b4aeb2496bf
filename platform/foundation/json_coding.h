#pragma once
// Strict JSON coding for records, in the manner of the platform's default
// JSON encoder and decoder: every member is required, types are checked
// exactly (an integer member rejects 12.5 and values outside its range, a
// number member accepts integers), and a value that is not finite cannot be
// encoded. Record coders throw JsonCodingError; the text-level entry points
// turn it into a Result so that no exception leaves a module.
//
// Encoders build a `Value`, whose members stay in the order written.
// Decoders read a `Document`, whose members are found by key: parsing one
// takes time linear in the text's size, however many members an object has.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/result.h"

namespace kv {

struct JsonCodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

namespace json {

using Value = nlohmann::ordered_json;
using Document = nlohmann::json;

[[noreturn]] void fail(std::string_view key, std::string_view what);

// Encoding: the value itself, or an error when it is NaN or infinite.
double finiteNumber(double value, std::string_view key);

// The texts of the numbers of a parsed document that may stand for an
// integer but were not read as one ("12.0", "1e3", an integer beyond 64
// bits), each found by the number's place in the document. The document
// holds such a number as its nearest double; an integer member is read from
// the text, from what was written.
class NumberTexts {
public:
    void add(const Document& number, std::string text);
    // The text of `number` when it is one of those numbers.
    std::optional<std::string_view> find(const Document& number) const;

private:
    struct Written {
        double value;  // as the document holds it: a place only ever stands for this value
        std::string text;
    };
    std::unordered_map<const Document*, Written> texts_;
};

// A parsed JSON text: its document, whose values are plain JSON, and the
// texts of its numbers. The document stays in one place when the whole is
// moved, so that the texts still find their numbers.
class ParsedDocument {
public:
    const Document& document() const { return *document_; }
    const NumberTexts& numberTexts() const { return texts_; }

private:
    friend Result<ParsedDocument> parse(std::string_view text);
    ParsedDocument(std::unique_ptr<Document> document, NumberTexts texts)
        : document_(std::move(document)), texts_(std::move(texts)) {}

    std::unique_ptr<Document> document_;
    NumberTexts texts_;
};

// The document of a whole JSON text, or an error when the text is not one
// JSON value with nothing but whitespace around it.
Result<ParsedDocument> parse(std::string_view text);

// Reads the members of one JSON object by key.
class Reader {
public:
    // A reader of a value of a parsed document (whose number texts it uses)
    // or of a value built in code, which has none.
    Reader(const Document& value, std::string_view name, const NumberTexts* texts = nullptr);
    Reader(const ParsedDocument& parsed, std::string_view name)
        : Reader(parsed.document(), name, &parsed.numberTexts()) {}
    Reader(Document&&, std::string_view, const NumberTexts* = nullptr) = delete;  // it keeps a reference to the value
    Reader(ParsedDocument&&, std::string_view) = delete;

    const Document& member(std::string_view key) const;  // present and not null
    bool contains(std::string_view key) const { return value_.contains(key); }
    Reader object(std::string_view key) const;
    int64_t int64(std::string_view key) const { return int64(member(key), key); }
    int32_t int32(std::string_view key) const { return int32(member(key), key); }
    double number(std::string_view key) const { return number(member(key), key); }
    bool boolean(std::string_view key) const { return boolean(member(key), key); }

    // Each element decoded by decodeElement(const Reader&).
    template <class F>
    auto array(std::string_view key, F decodeElement) const {
        const Document& list = member(key);
        if (!list.is_array()) fail(key, "expected an array");
        std::vector<decltype(decodeElement(std::declval<const Reader&>()))> out;
        out.reserve(list.size());
        for (const Document& element : list) out.push_back(decodeElement(Reader(element, key, texts_)));
        return out;
    }

    // Checks on single values, for coders of values that are not objects.
    // An integer is read from the number's text where the reader has it.
    int64_t int64(const Document& value, std::string_view key) const;
    int32_t int32(const Document& value, std::string_view key) const;
    static double number(const Document& value, std::string_view key);
    static bool boolean(const Document& value, std::string_view key);
    // A number written with a fraction or an exponent, or too large for an integer.
    static bool isDecimalNumber(const Document& value) { return value.is_number_float(); }

private:
    const Document& value_;
    std::string_view name_;
    const NumberTexts* texts_;
};

// Record to JSON text; a coding error becomes the Result's error.
template <class T, class Encode>
Result<std::string> encodeText(const T& record, Encode encode) {
    try {
        return encode(record).dump();
    } catch (const JsonCodingError& e) {
        return Error{e.what()};
    } catch (const nlohmann::json::exception& e) {  // a text that is not UTF-8
        return Error{e.what()};
    }
}

// JSON text to record; malformed text or a coding error becomes the error.
template <class Decode>
auto decodeText(std::string_view text, Decode decode) -> Result<decltype(decode(std::declval<const Reader&>()))> {
    auto document = parse(text);
    if (!document) return document.error();
    try {
        return decode(Reader(*document, "document"));
    } catch (const JsonCodingError& e) {
        return Error{e.what()};
    }
}

}  // namespace json
}  // namespace kv
