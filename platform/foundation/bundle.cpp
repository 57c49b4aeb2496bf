#include "platform/foundation/bundle.h"

#include <mutex>
#include <utility>

namespace {

std::mutex& mainBundleMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<const NSBundle>& mainBundleSlot() {
    static std::shared_ptr<const NSBundle> bundle = std::make_shared<const NSBundle>(kv::compiledBundleInfo());
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

std::optional<std::string> NSBundle::bundleIdentifier() const {
    if (!info_) return std::nullopt;
    const auto entry = info_->find("CFBundleIdentifier");
    if (entry == info_->end()) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&entry->second)) return *text;
    return std::nullopt;
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
