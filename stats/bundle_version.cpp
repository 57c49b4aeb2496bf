#include "stats/bundle_version.h"

#include <variant>

#include "platform/foundation/bundle.h"

namespace kv {

std::string bundleShortVersion() {
    const auto bundle = NSBundle::mainBundle();  // held while its entry is read
    const auto* value = bundle->objectForInfoDictionaryKey("CFBundleShortVersionString");
    const auto* text = value ? std::get_if<std::string>(value) : nullptr;
    return text ? *text : "?";
}

}  // namespace kv
