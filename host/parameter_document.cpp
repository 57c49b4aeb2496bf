#include "host/parameter_document.h"

#include <algorithm>
#include <iterator>
#include <type_traits>

namespace kv::host {
namespace {

// The value at `time`: before the first key the first key's value, after the
// last the last's; between two keys linear in seconds for numbers, the
// earlier key's value for flags.
template <class T>
T valueAt(const Curve<T>& curve, CMTime time) {
    if (curve.keys.empty()) return curve.constant;
    auto after = curve.keys.upper_bound(time);
    if (after == curve.keys.begin()) return after->second;
    auto before = std::prev(after);
    if constexpr (std::is_same_v<T, double>) {
        if (after != curve.keys.end()) {
            const double t0 = CMTimeGetSeconds(before->first);
            const double t1 = CMTimeGetSeconds(after->first);
            const double fraction = (CMTimeGetSeconds(time) - t0) / (t1 - t0);
            return before->second + (after->second - before->second) * fraction;
        }
    }
    return before->second;
}

// The parameter's default, or T's zero when it is of another kind.
template <class T>
T defaultOf(const ParameterDefinition& definition) {
    const T* value = std::get_if<T>(&definition.defaultValue);
    return value ? *value : T{};
}

}  // namespace

bool ParameterDocument::create(ParameterDefinition definition, bool refuse) {
    std::lock_guard guard(mutex_);
    const bool isStart = definition.kind == ParameterKind::groupStart;
    const bool isEnd = definition.kind == ParameterKind::groupEnd;
    // A parameter belongs to the innermost group whose start was accepted.
    const auto innermost = std::find_if(openGroups_.rbegin(), openGroups_.rend(),
                                        [](const std::optional<uint32_t>& group) { return group.has_value(); });
    definition.group = innermost == openGroups_.rend() ? std::nullopt : *innermost;
    bool accepted = !refuse;
    if (isEnd) {
        // An end closes the last start, accepted or not; it is accepted when that start was.
        accepted = accepted && !openGroups_.empty() && openGroups_.back().has_value();
        if (!openGroups_.empty()) openGroups_.pop_back();
    } else {
        accepted = accepted && find(definition.id) == nullptr;
    }
    calls_.push_back(CreationCall{definition, accepted});
    if (isStart) openGroups_.push_back(accepted ? std::optional(definition.id) : std::nullopt);
    if (!accepted || isEnd) return accepted;

    Entry entry{definition, std::monostate{}};
    switch (definition.kind) {
        case ParameterKind::percentSlider:
        case ParameterKind::floatSlider:
            entry.value = Curve<double>{defaultOf<double>(definition), {}};
            break;
        case ParameterKind::toggle: entry.value = Curve<bool>{defaultOf<bool>(definition), {}}; break;
        case ParameterKind::custom: entry.value = std::optional<FxValue>(defaultOf<FxValue>(definition)); break;
        case ParameterKind::string: entry.value = defaultOf<std::string>(definition); break;
        default: break;
    }
    entries_.push_back(std::move(entry));
    return true;
}

std::vector<CreationCall> ParameterDocument::creationCalls() const {
    std::lock_guard guard(mutex_);
    return calls_;
}

std::vector<ParameterDefinition> ParameterDocument::parameters() const {
    std::lock_guard guard(mutex_);
    std::vector<ParameterDefinition> out;
    for (const Entry& entry : entries_) out.push_back(entry.definition);
    return out;
}

std::optional<ParameterDefinition> ParameterDocument::parameter(uint32_t id) const {
    std::lock_guard guard(mutex_);
    const Entry* entry = find(id);
    if (!entry) return std::nullopt;
    return entry->definition;
}

template <class T>
std::optional<T> ParameterDocument::curveValue(uint32_t id, CMTime time) const {
    std::lock_guard guard(mutex_);
    const Entry* entry = find(id);
    const auto* curve = entry ? std::get_if<Curve<T>>(&entry->value) : nullptr;
    if (!curve) return std::nullopt;
    return valueAt(*curve, time);
}

template <class T>
bool ParameterDocument::setCurve(uint32_t id, std::optional<CMTime> keyTime, T value) {
    bool stored = false;
    {
        std::lock_guard guard(mutex_);
        Entry* entry = find(id);
        auto* curve = entry ? std::get_if<Curve<T>>(&entry->value) : nullptr;
        if (curve && !keyTime) {
            *curve = Curve<T>{value, {}};
            stored = true;
        } else if (curve && CMTimeIsNumeric(*keyTime)) {
            curve->keys.insert_or_assign(*keyTime, value);
            stored = true;
        }
    }
    return notify(id, stored);
}

template <class T>
std::optional<Curve<T>> ParameterDocument::curve(uint32_t id) const {
    std::lock_guard guard(mutex_);
    const Entry* entry = find(id);
    const auto* curve = entry ? std::get_if<Curve<T>>(&entry->value) : nullptr;
    if (!curve) return std::nullopt;
    return *curve;
}

std::optional<Curve<double>> ParameterDocument::floatCurve(uint32_t id) const { return curve<double>(id); }

std::optional<Curve<bool>> ParameterDocument::boolCurve(uint32_t id) const { return curve<bool>(id); }

void ParameterDocument::setChangeObserver(ChangeObserver observer) {
    std::lock_guard guard(mutex_);
    observer_ = std::move(observer);
}

bool ParameterDocument::notify(uint32_t id, bool stored) const {
    if (!stored) return false;
    ChangeObserver observer;
    {
        std::lock_guard guard(mutex_);
        observer = observer_;
    }
    if (observer) observer(id);
    return true;
}

std::optional<double> ParameterDocument::floatValue(uint32_t id, CMTime time) const {
    return curveValue<double>(id, time);
}

std::optional<bool> ParameterDocument::boolValue(uint32_t id, CMTime time) const { return curveValue<bool>(id, time); }

bool ParameterDocument::setFloatValue(uint32_t id, double value) { return setCurve(id, std::nullopt, value); }

bool ParameterDocument::setFloatKeyframe(uint32_t id, CMTime time, double value) { return setCurve(id, time, value); }

bool ParameterDocument::setBoolValue(uint32_t id, bool value) { return setCurve(id, std::nullopt, value); }

bool ParameterDocument::setBoolKeyframe(uint32_t id, CMTime time, bool value) { return setCurve(id, time, value); }

std::optional<FxValue> ParameterDocument::customValue(uint32_t id) const {
    std::lock_guard guard(mutex_);
    const Entry* entry = find(id);
    const auto* value = entry ? std::get_if<std::optional<FxValue>>(&entry->value) : nullptr;
    if (!value) return std::nullopt;
    return *value;
}

std::optional<std::string> ParameterDocument::stringValue(uint32_t id) const {
    std::lock_guard guard(mutex_);
    const Entry* entry = find(id);
    const auto* value = entry ? std::get_if<std::string>(&entry->value) : nullptr;
    if (!value) return std::nullopt;
    return *value;
}

bool ParameterDocument::setCustomValue(uint32_t id, FxValue value) {
    bool stored = false;
    {
        std::lock_guard guard(mutex_);
        Entry* entry = find(id);
        auto* held = entry ? std::get_if<std::optional<FxValue>>(&entry->value) : nullptr;
        if (held) *held = std::move(value);
        stored = held != nullptr;
    }
    return notify(id, stored);
}

bool ParameterDocument::setStringValue(uint32_t id, std::string value) {
    bool stored = false;
    {
        std::lock_guard guard(mutex_);
        Entry* entry = find(id);
        auto* held = entry ? std::get_if<std::string>(&entry->value) : nullptr;
        if (held) *held = std::move(value);
        stored = held != nullptr;
    }
    return notify(id, stored);
}

ParameterDocument::Entry* ParameterDocument::find(uint32_t id) {
    auto found = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.definition.id == id; });
    return found == entries_.end() ? nullptr : &*found;
}

const ParameterDocument::Entry* ParameterDocument::find(uint32_t id) const {
    return const_cast<ParameterDocument*>(this)->find(id);
}

}  // namespace kv::host
