#pragma once
// The user defaults: a few named values that outlive the process. They live
// in one small JSON file under the user's configuration directory
// ($XDG_CONFIG_HOME, else ~/.config), replaced atomically on every change so
// that a crash leaves the old contents or the new ones. Tests point the
// standard defaults at a file of their own with ScopedStandardUserDefaults.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/process_setting.h"

class NSUserDefaults {
public:
    // Defaults kept in `file`, read from it now when it exists. With an
    // empty path they live in memory only.
    explicit NSUserDefaults(std::filesystem::path file);

    // The defaults of this user and program. Safe to call from any thread.
    static std::shared_ptr<NSUserDefaults> standardUserDefaults();

    // The value under `key` when it is a string.
    std::optional<std::string> stringForKey(std::string_view key) const;

    // Keeps `value` under `key` and writes the file. Safe from any thread.
    void setObject(std::string value, std::string_view key);

    // Writes what the file does not hold yet; true when the file is up to date.
    bool synchronize();

private:
    bool writeLocked();

    const std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> values_;
    bool unsaved_ = false;
};

namespace kv {

// Where the standard defaults live: "kestrelvantage/user-defaults.json" in
// $XDG_CONFIG_HOME when that is an absolute path, else in $HOME/.config;
// empty when neither is known.
std::filesystem::path standardUserDefaultsFile();

// Replaces the standard defaults; none makes the next use read them from
// standardUserDefaultsFile(). Returns the ones before.
std::shared_ptr<NSUserDefaults> setStandardUserDefaults(std::shared_ptr<NSUserDefaults> defaults);

// Points the standard defaults at `file` while it lives, then puts back the
// ones before.
class ScopedStandardUserDefaults : public ScopedOverride<std::shared_ptr<NSUserDefaults>> {
public:
    explicit ScopedStandardUserDefaults(std::filesystem::path file)
        : ScopedOverride(setStandardUserDefaults, std::make_shared<NSUserDefaults>(std::move(file))) {}
};

}  // namespace kv
