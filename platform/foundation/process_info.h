#pragma once
// What the platform tells about the machine and the user: the machine name
// (the `machine` field of uname), the current locale's identifier, and the
// operating system's version text. Tests replace all three with
// ScopedHostDescription.
#include <optional>
#include <string>

#include "platform/foundation/process_setting.h"

class NSProcessInfo {
public:
    static NSProcessInfo processInfo() { return {}; }

    // Human-readable: the system's name and release, as "Linux 6.1.0-18-amd64".
    std::string operatingSystemVersionString() const;
};

class NSLocale {
public:
    explicit NSLocale(std::string identifier) : identifier_(std::move(identifier)) {}

    // The user's locale, from LC_ALL, LC_MESSAGES or LANG (the first one
    // set), without its code set or modifier: "en_US.UTF-8" is "en_US".
    // The C and POSIX locales and no setting at all give the empty identifier.
    static NSLocale currentLocale();

    const std::string& localeIdentifier() const { return identifier_; }

private:
    std::string identifier_;
};

namespace kv {

// The `machine` field of uname, byte for byte ("x86_64", "aarch64").
std::string unameMachine();

struct HostDescription {
    std::string machine;
    std::string localeIdentifier;
    std::string operatingSystemVersion;
};

// Makes the three readings above answer from `description`; none restores
// the system's answers. Returns the description before.
std::optional<HostDescription> setHostDescription(std::optional<HostDescription> description);

// Makes the three readings above answer from `description` while it lives.
class ScopedHostDescription : public ScopedOverride<std::optional<HostDescription>> {
public:
    explicit ScopedHostDescription(HostDescription description)
        : ScopedOverride(setHostDescription, std::move(description)) {}
};

}  // namespace kv
