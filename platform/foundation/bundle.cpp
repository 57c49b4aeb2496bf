#include "platform/foundation/bundle.h"

#include <mutex>
#include <utility>

namespace {

// Never destroyed: the statistics thread may read them while the process exits.
std::mutex& mainBundleMutex() {
    static std::mutex& m = *new std::mutex();
    return m;
}

std::shared_ptr<const NSBundle>& mainBundleSlot() {
    static auto& bundle =
        *new std::shared_ptr<const NSBundle>(std::make_shared<const NSBundle>(kv::compiledBundleInfo()));
    return bundle;
}

std::shared_ptr<const NSBundle> exchangeMainBundle(std::shared_ptr<const NSBundle> bundle) {
    std::lock_guard lock(mainBundleMutex());
    return std::exchange(mainBundleSlot(), std::move(bundle));
}

}  // namespace

std::shared_ptr<const NSBundle> NSBundle::mainBundle() {
    std::lock_guard lock(mainBundleMutex());
    return mainBundleSlot();
}

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

ScopedMainBundleInfo::ScopedMainBundleInfo(std::optional<NSBundle::InfoDictionary> info)
    : previous_(exchangeMainBundle(std::make_shared<const NSBundle>(std::move(info)))) {}

ScopedMainBundleInfo::~ScopedMainBundleInfo() { exchangeMainBundle(std::move(previous_)); }

}  // namespace kv
