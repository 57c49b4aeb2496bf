#include "platform/foundation/process_info.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>

namespace {

struct DescriptionSlot {
    std::mutex mutex;
    std::optional<kv::HostDescription> description;
};

DescriptionSlot& slot() {
    static DescriptionSlot& s = *new DescriptionSlot;
    return s;
}

std::optional<kv::HostDescription> replacement() {
    std::lock_guard lock(slot().mutex);
    return slot().description;
}

std::optional<utsname> systemName() {
    utsname name{};
    if (::uname(&name) != 0) return std::nullopt;
    return name;
}

std::string localeFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) continue;
        std::string_view name(value);
        name = name.substr(0, name.find_first_of(".@"));
        if (name == "C" || name == "POSIX") return "";
        return std::string(name);
    }
    return "";
}

}  // namespace

std::string NSProcessInfo::operatingSystemVersionString() const {
    if (auto description = replacement()) return description->operatingSystemVersion;
    const auto name = systemName();
    if (!name) return "";
    return std::string(name->sysname) + " " + name->release;
}

NSLocale NSLocale::currentLocale() {
    if (auto description = replacement()) return NSLocale(description->localeIdentifier);
    return NSLocale(localeFromEnvironment());
}

namespace kv {

std::string unameMachine() {
    if (auto description = replacement()) return description->machine;
    const auto name = systemName();
    return name ? std::string(name->machine) : std::string();
}

ScopedHostDescription::ScopedHostDescription(HostDescription description) {
    std::lock_guard lock(slot().mutex);
    previous_ = std::exchange(slot().description, std::move(description));
}

ScopedHostDescription::~ScopedHostDescription() {
    std::lock_guard lock(slot().mutex);
    slot().description = std::move(previous_);
}

}  // namespace kv
