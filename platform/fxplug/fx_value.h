#pragma once
// The platform objects that cross the plug-in interface: the null object,
// numbers, strings, data and dictionaries of them. Dictionaries and data are
// immutable values once made, as the platform's are; a dictionary entry may
// hold any of the kinds, so readers check the kind of what they find.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class FxValue;

// The class of a platform object, as `classForCustomParameterID:` names it.
enum class FxClass { NSNull, NSNumber, NSString, NSData, NSDictionary };

struct NSNull {
    friend bool operator==(const NSNull&, const NSNull&) = default;
};

// A number object: a boolean, an integer or a double, kept as it was made.
struct NSNumber {
    std::variant<bool, int64_t, double> value;

    static NSNumber boolean(bool b) { return {b}; }
    static NSNumber integer(int64_t i) { return {i}; }
    static NSNumber real(double d) { return {d}; }

    friend bool operator==(const NSNumber&, const NSNumber&) = default;
};

using NSData = std::vector<uint8_t>;
using NSDictionary = std::map<std::string, FxValue, std::less<>>;

NSData dataFromText(std::string_view text);
std::string_view textFromData(const NSData& data);

class FxValue {
public:
    FxValue() : value_(NSNull{}) {}
    FxValue(NSNull) : value_(NSNull{}) {}
    FxValue(NSNumber number) : value_(number) {}
    FxValue(std::string text) : value_(std::move(text)) {}
    FxValue(const char* text) : value_(std::string(text)) {}
    FxValue(NSData data) : value_(std::move(data)) {}
    FxValue(NSDictionary dictionary);

    FxClass objectClass() const;
    bool isNull() const { return objectClass() == FxClass::NSNull; }

    // The object as the asked kind, or null when it is of another kind.
    const NSNumber* number() const { return std::get_if<NSNumber>(&value_); }
    const std::string* string() const { return std::get_if<std::string>(&value_); }
    const NSData* data() const { return std::get_if<NSData>(&value_); }
    const NSDictionary* dictionary() const;

    friend bool operator==(const FxValue& a, const FxValue& b);

private:
    std::variant<NSNull, NSNumber, std::string, NSData, std::shared_ptr<const NSDictionary>> value_;
};
