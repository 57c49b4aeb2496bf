#include "stats/bundle_version.h"

#include <variant>

#include "platform/foundation/bundle.h"

namespace kv {

std::string bundleShortVersion() {
    const auto bundle = NSBundle::mainBundle();
    const auto& info = bundle->infoDictionary();
    if (!info) return "?";
    const auto entry = info->find("CFBundleShortVersionString");
    if (entry == info->end()) return "?";
    if (const auto* text = std::get_if<std::string>(&entry->second)) return *text;
    return "?";
}

}  // namespace kv
