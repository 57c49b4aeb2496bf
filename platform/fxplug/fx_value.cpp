#include "platform/fxplug/fx_value.h"

NSData dataFromText(std::string_view text) { return NSData(text.begin(), text.end()); }

std::string_view textFromData(const NSData& data) {
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

FxValue::FxValue(NSDictionary dictionary)
    : value_(std::make_shared<const NSDictionary>(std::move(dictionary))) {}

FxClass FxValue::objectClass() const {
    switch (value_.index()) {
        case 0: return FxClass::NSNull;
        case 1: return FxClass::NSNumber;
        case 2: return FxClass::NSString;
        case 3: return FxClass::NSData;
        default: return FxClass::NSDictionary;
    }
}

const NSDictionary* FxValue::dictionary() const {
    const auto* held = std::get_if<std::shared_ptr<const NSDictionary>>(&value_);
    return held ? held->get() : nullptr;
}

bool operator==(const FxValue& a, const FxValue& b) {
    if (a.objectClass() != b.objectClass()) return false;
    if (const NSDictionary* left = a.dictionary()) return *left == *b.dictionary();
    return a.value_ == b.value_;
}
