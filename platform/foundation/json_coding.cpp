#include "platform/foundation/json_coding.h"

#include <cmath>
#include <algorithm>
#include <limits>
#include <utility>

#include "platform/foundation/number_cast.h"

namespace kv::json {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The integer that a JSON number's text denotes exactly: "12.0" and "1.2e1"
// are 12, "12.5" is a fraction, "-9223372036854775809" is out of range.
int64_t integerFromText(std::string_view text, std::string_view key) {
    size_t i = 0;
    const bool negative = i < text.size() && text[i] == '-';
    if (negative) ++i;
    std::string digits;
    int64_t exponent = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) digits += text[i];
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && isDigit(text[i]); ++i, --exponent) digits += text[i];
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        const bool negativeExponent = i < text.size() && text[i] == '-';
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        int64_t written = 0;  // saturated: no integer has a billion digits
        for (; i < text.size() && isDigit(text[i]); ++i) written = std::min<int64_t>(written * 10 + (text[i] - '0'), 1'000'000'000);
        exponent += negativeExponent ? -written : written;
    }
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    digits.erase(0, first);
    while (digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    if (exponent < 0) fail(key, "expected an integer, found a fraction");
    constexpr size_t kMostDigits = 19;  // 2^63 has 19 digits
    if (digits.size() + uint64_t(exponent) > kMostDigits) fail(key, "integer out of the signed 64-bit range");
    uint64_t magnitude = 0;
    for (const char d : digits) magnitude = magnitude * 10 + uint64_t(d - '0');
    for (int64_t k = 0; k < exponent; ++k) magnitude *= 10;
    const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
    if (magnitude > limit) fail(key, "integer out of the signed 64-bit range");
    return negative ? int64_t(0 - magnitude) : int64_t(magnitude);
}

// Written with a fraction that has a digit other than 0, and no exponent.
bool isPlainFraction(std::string_view text) {
    const size_t point = text.find('.');
    return point != std::string_view::npos && text.find_first_of("eE") == std::string_view::npos &&
           text.find_first_of("123456789", point) != std::string_view::npos;
}

// Builds a Document from the parser's events, and the texts of its numbers
// that may stand for integers. Objects are ordered maps found by key, so each
// member costs a logarithmic look-up, never a scan.
class DocumentBuilder {
public:
    explicit DocumentBuilder(Document& root) : root_(root) {}

    bool null() { return add(nullptr); }
    bool boolean(bool value) { return add(value); }
    bool number_integer(Document::number_integer_t value) { return add(value); }
    bool number_unsigned(Document::number_unsigned_t value) { return add(value); }
    bool number_float(Document::number_float_t value, const Document::string_t& text) {
        // Most numbers are plain fractions ("0.25"): their double, which is
        // no whole number either, tells an integer member all it needs.
        if (isPlainFraction(text) && std::trunc(value) != value) return add(value);
        Document* number = place(value);
        if (number == nullptr) {
            // An element of the open array: its place moves while the array
            // grows, so its text is kept once the array is closed.
            pendingElements_.back().push_back({open_.back()->size() - 1, text});
        } else {
            texts_.add(*number, text);
        }
        return true;
    }
    bool string(Document::string_t& value) { return add(std::move(value)); }
    bool binary(Document::binary_t& value) { return add(Document::binary(std::move(value))); }
    bool start_object(std::size_t) { return open(Document::object()); }
    bool key(Document::string_t& key) {
        key_ = std::move(key);
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Document::array()); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) { return false; }

    NumberTexts& numberTexts() { return texts_; }

private:
    struct PendingText {
        size_t index;
        std::string text;
    };

    // Puts a new value in its place: the root, the next element of the
    // innermost array, or the member of the innermost object named by the
    // last key. Answers the place when it is final, none for an element of
    // an open array.
    Document* place(Document value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Document& container = *open_.back();
        if (container.is_array()) {
            container.get_ref<Document::array_t&>().push_back(std::move(value));
            return nullptr;
        }
        // Members stay where they are put (the object is a tree of nodes).
        Document& member = container.get_ref<Document::object_t&>()[key_];
        member = std::move(value);
        return &member;
    }
    bool add(Document value) {
        place(std::move(value));
        return true;
    }
    // The container's place stays put while it is open: nothing is added
    // to its parent before it closes.
    bool open(Document container) {
        const bool inArray = !open_.empty() && open_.back()->is_array();
        Document* where = place(std::move(container));
        open_.push_back(inArray ? &open_.back()->back() : where);
        pendingElements_.emplace_back();
        return true;
    }
    bool close() {
        Document& container = *open_.back();
        for (PendingText& pending : pendingElements_.back()) {
            texts_.add(container[pending.index], std::move(pending.text));
        }
        pendingElements_.pop_back();
        open_.pop_back();
        return true;
    }

    Document& root_;
    NumberTexts texts_;
    std::vector<Document*> open_;
    std::vector<std::vector<PendingText>> pendingElements_;  // one list for each open container
    std::string key_;
};

}  // namespace

void fail(std::string_view key, std::string_view what) {
    throw JsonCodingError("\"" + std::string(key) + "\": " + std::string(what));
}

double finiteNumber(double value, std::string_view key) {
    if (!std::isfinite(value)) fail(key, "a number that is not finite has no JSON form");
    return value;
}

void NumberTexts::add(const Document& number, std::string text) {
    texts_.insert_or_assign(&number, Written{number.get<double>(), std::move(text)});
}

std::optional<std::string_view> NumberTexts::find(const Document& number) const {
    if (!number.is_number_float()) return std::nullopt;
    const auto found = texts_.find(&number);
    // A place whose value was replaced by a later member of the same name
    // may hold another number: its text is then not this number's.
    if (found == texts_.end() || found->second.value != number.get<double>()) return std::nullopt;
    return found->second.text;
}

Result<ParsedDocument> parse(std::string_view text) {
    // The parser takes a NUL byte for the end of the text; JSON text holds
    // none anywhere, so whatever follows one would go unread.
    const Error invalid{"The data is not valid JSON."};
    if (text.find('\0') != std::string_view::npos) return invalid;
    auto document = std::make_unique<Document>();
    DocumentBuilder builder(*document);
    if (!Document::sax_parse(text.begin(), text.end(), &builder, nlohmann::json::input_format_t::json, true)) {
        return invalid;
    }
    return ParsedDocument(std::move(document), std::move(builder.numberTexts()));
}

Reader::Reader(const Document& value, std::string_view name, const NumberTexts* texts)
    : value_(value), name_(name), texts_(texts) {
    if (!value_.is_object()) fail(name_, "expected an object");
}

const Document& Reader::member(std::string_view key) const {
    const auto it = value_.find(key);
    if (it == value_.end()) fail(key, "required key is missing");
    if (it->is_null()) fail(key, "expected a value, found null");
    return *it;
}

Reader Reader::object(std::string_view key) const { return Reader(member(key), key, texts_); }

int64_t Reader::int64(const Document& value, std::string_view key) const {
    if (value.is_number_unsigned()) {
        const uint64_t v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(INT64_MAX)) fail(key, "integer out of the signed 64-bit range");
        return static_cast<int64_t>(v);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    // A whole number written with a fraction or exponent ("12.0", "1e3").
    if (const auto text = texts_ ? texts_->find(value) : std::nullopt) return integerFromText(*text, key);
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (d != std::trunc(d)) fail(key, "expected an integer, found a fraction");
        if (!fitsInInt64(d)) fail(key, "integer out of the signed 64-bit range");
        return static_cast<int64_t>(d);
    }
    fail(key, "expected an integer");
}

int32_t Reader::int32(const Document& value, std::string_view key) const {
    const int64_t v = int64(value, key);
    if (v < INT32_MIN || v > INT32_MAX) fail(key, "integer out of the signed 32-bit range");
    return static_cast<int32_t>(v);
}

double Reader::number(const Document& value, std::string_view key) {
    if (!value.is_number()) fail(key, "expected a number");
    return value.get<double>();
}

bool Reader::boolean(const Document& value, std::string_view key) {
    if (!value.is_boolean()) fail(key, "expected a boolean");
    return value.get<bool>();
}

}  // namespace kv::json
