#pragma once
// The main bundle and its information dictionary. Without application
// bundles on this platform, the main bundle's dictionary is compiled in: the
// bundle identifier and the short version string taken from the project
// version. Tests replace the dictionary with ScopedMainBundleInfo.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/foundation/process_setting.h"

class NSBundle {
public:
    // A property-list value of the dictionary: a string or a number.
    using InfoValue = std::variant<std::string, double>;
    using InfoDictionary = std::map<std::string, InfoValue, std::less<>>;

    explicit NSBundle(std::optional<InfoDictionary> info) : info_(std::move(info)) {}

    // The bundle of the running program. Safe to call from any thread.
    static std::shared_ptr<const NSBundle> mainBundle();

    // Absent when the bundle has no information dictionary.
    const std::optional<InfoDictionary>& infoDictionary() const { return info_; }

    // The dictionary's entry under `key`; null when there is no dictionary
    // or no such entry.
    const InfoValue* objectForInfoDictionaryKey(std::string_view key) const;

    // "CFBundleIdentifier" of the dictionary, when it holds a string.
    std::optional<std::string> bundleIdentifier() const;

private:
    std::optional<InfoDictionary> info_;
};

namespace kv {

// The dictionary the program is built with.
NSBundle::InfoDictionary compiledBundleInfo();

// Replaces the main bundle; returns the one before.
std::shared_ptr<const NSBundle> setMainBundle(std::shared_ptr<const NSBundle> bundle);

// Gives the main bundle another information dictionary (or none) while it
// lives, then puts back the one before.
class ScopedMainBundleInfo : public ScopedOverride<std::shared_ptr<const NSBundle>> {
public:
    explicit ScopedMainBundleInfo(std::optional<NSBundle::InfoDictionary> info)
        : ScopedOverride(setMainBundle, std::make_shared<const NSBundle>(std::move(info))) {}
};

}  // namespace kv
