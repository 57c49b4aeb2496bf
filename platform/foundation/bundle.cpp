#include "platform/foundation/bundle.h"

#include <utility>

namespace {

// Never destroyed: the statistics thread may read it while the process exits.
kv::ProcessSetting<std::shared_ptr<const NSBundle>>& installedMainBundle() {
    static auto& bundle = *new kv::ProcessSetting<std::shared_ptr<const NSBundle>>(
        std::make_shared<const NSBundle>(kv::compiledBundleInfo()));
    return bundle;
}

}  // namespace

std::shared_ptr<const NSBundle> NSBundle::mainBundle() { return installedMainBundle().get(); }

const NSBundle::InfoValue* NSBundle::objectForInfoDictionaryKey(std::string_view key) const {
    if (!info_) return nullptr;
    const auto entry = info_->find(key);
    return entry == info_->end() ? nullptr : &entry->second;
}

std::optional<std::string> NSBundle::bundleIdentifier() const {
    const auto* value = objectForInfoDictionaryKey("CFBundleIdentifier");
    const auto* text = value ? std::get_if<std::string>(value) : nullptr;
    if (!text) return std::nullopt;
    return *text;
}

namespace kv {

NSBundle::InfoDictionary compiledBundleInfo() {
    return {
        {"CFBundleIdentifier", std::string(KV_BUNDLE_IDENTIFIER)},
        {"CFBundleShortVersionString", std::string(KV_BUNDLE_SHORT_VERSION)},
    };
}

std::shared_ptr<const NSBundle> setMainBundle(std::shared_ptr<const NSBundle> bundle) {
    return installedMainBundle().exchange(std::move(bundle));
}

}  // namespace kv
