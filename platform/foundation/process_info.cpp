#include "platform/foundation/process_info.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <string_view>
#include <utility>

#include "platform/foundation/process_setting.h"

namespace {

// What tests put in place of the system's readings; none: the system's.
kv::ProcessSetting<std::optional<kv::HostDescription>>& replacement() {
    static auto& description = *new kv::ProcessSetting<std::optional<kv::HostDescription>>;
    return description;
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
    if (auto description = replacement().get()) return description->operatingSystemVersion;
    const auto name = systemName();
    if (!name) return "";
    return std::string(name->sysname) + " " + name->release;
}

NSLocale NSLocale::currentLocale() {
    if (auto description = replacement().get()) return NSLocale(description->localeIdentifier);
    return NSLocale(localeFromEnvironment());
}

namespace kv {

std::string unameMachine() {
    if (auto description = replacement().get()) return description->machine;
    const auto name = systemName();
    return name ? std::string(name->machine) : std::string();
}

std::optional<HostDescription> setHostDescription(std::optional<HostDescription> description) {
    return replacement().exchange(std::move(description));
}

}  // namespace kv
