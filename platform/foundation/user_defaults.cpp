#include "platform/foundation/user_defaults.h"

#include "platform/foundation/atomic_file.h"

#include <cstdlib>
#include <system_error>
#include <utility>

#include <unistd.h>

#include "platform/foundation/json_coding.h"

namespace {

// Never destroyed: the statistics thread may use the defaults while the
// process ends.
kv::ProcessSetting<std::shared_ptr<NSUserDefaults>>& installedStandardDefaults() {
    static auto& defaults = *new kv::ProcessSetting<std::shared_ptr<NSUserDefaults>>;
    return defaults;
}

// The string entries of the file; an unreadable or malformed file holds none.
std::map<std::string, std::string, std::less<>> readValues(const std::filesystem::path& file) {
    std::map<std::string, std::string, std::less<>> values;
    if (file.empty()) return values;
    kv::removeLeftoverTemporaries(file);
    // The file holds one short identifier; anything near this size is not ours.
    constexpr size_t kLargestFile = size_t(1) << 20;
    const auto text = kv::readWholeFile(file, kLargestFile);
    if (!text) return values;
    const auto parsed = kv::json::parse(*text);
    if (!parsed || !parsed->document().is_object()) return values;
    for (const auto& [key, value] : parsed->document().items()) {
        if (value.is_string()) values.emplace(key, value.get<std::string>());
    }
    return values;
}

bool replaceFile(const std::filesystem::path& file, const std::string& bytes) {
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    return kv::writeFileAtomically(file, bytes).ok();
}

}  // namespace

NSUserDefaults::NSUserDefaults(std::filesystem::path file) : file_(std::move(file)), values_(readValues(file_)) {}

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults() {
    return installedStandardDefaults().use([](std::shared_ptr<NSUserDefaults>& defaults) {
        if (!defaults) defaults = std::make_shared<NSUserDefaults>(kv::standardUserDefaultsFile());
        return defaults;
    });
}

std::optional<std::string> NSUserDefaults::stringForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto entry = values_.find(key);
    if (entry == values_.end()) return std::nullopt;
    return entry->second;
}

void NSUserDefaults::setObject(std::string value, std::string_view key) {
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
    unsaved_ = true;
    writeLocked();
}

bool NSUserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    return writeLocked();
}

bool NSUserDefaults::writeLocked() {
    if (!unsaved_) return true;
    if (file_.empty()) return false;
    kv::json::Value document = kv::json::Value::object();
    for (const auto& [key, value] : values_) document[key] = value;
    const std::string bytes = document.dump(2, ' ', false, kv::json::Value::error_handler_t::replace) + "\n";
    unsaved_ = !replaceFile(file_, bytes);
    return !unsaved_;
}

namespace kv {

std::filesystem::path standardUserDefaultsFile() {
    const std::filesystem::path relative = std::filesystem::path("kestrelvantage") / "user-defaults.json";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && std::filesystem::path(config).is_absolute()) return std::filesystem::path(config) / relative;
    const char* home = std::getenv("HOME");
    if (home && std::filesystem::path(home).is_absolute()) return std::filesystem::path(home) / ".config" / relative;
    return {};
}

std::shared_ptr<NSUserDefaults> setStandardUserDefaults(std::shared_ptr<NSUserDefaults> defaults) {
    return installedStandardDefaults().exchange(std::move(defaults));
}

}  // namespace kv
