#include "stats/installation_id.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/user_defaults.h"

namespace kv {
namespace {

// 0 until known. One thread uses it; atomic so that tests may hand it on.
std::atomic<uint64_t> cachedId{0};

// An optional "+" and then decimal digits only, within 64 bits; else 0.
uint64_t parseDecimal(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return 0;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return 0;
    return value;
}

}  // namespace

uint64_t readInstallationId() {
    const auto text = NSUserDefaults::standardUserDefaults()->stringForKey(kInstallationIdKey);
    return text ? parseDecimal(*text) : 0;
}

uint64_t installationId() {
    if (const uint64_t known = cachedId.load(std::memory_order_relaxed)) return known;
    if (const uint64_t stored = readInstallationId()) {
        cachedId.store(stored, std::memory_order_relaxed);
        return stored;
    }
    // 0 means unknown, so a clock that reads 1970 or before still makes 1.
    const uint64_t made = std::max<uint64_t>(millisecondsSince1970(), 1);
    cachedId.store(made, std::memory_order_relaxed);
    const auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setObject(std::to_string(made), kInstallationIdKey);
    defaults->synchronize();
    return made;
}

void forgetInstallationIdForTesting() { cachedId.store(0, std::memory_order_relaxed); }

}  // namespace kv
