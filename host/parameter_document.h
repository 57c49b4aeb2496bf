#pragma once
// The host's document of one effect instance: every parameter the effect
// created, in creation order with its group, the record of every creation
// call (refused ones too), and the parameters' values. Slider and toggle
// values are constant or keyframed (sliders linear between keys, toggles held
// from one key to the next); custom and string values do not vary in time.
// All members may be called from any thread.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/coremedia/cmtime.h"
#include "platform/fxplug/fx_host_api.h"
#include "platform/fxplug/fx_value.h"

namespace kv::host {

enum class ParameterKind { groupStart, groupEnd, pushButton, custom, percentSlider, floatSlider, toggle, string };

struct SliderRange {
    double parameterMin = 0;
    double parameterMax = 0;
    double sliderMin = 0;
    double sliderMax = 0;
    double delta = 0;

    friend bool operator==(const SliderRange&, const SliderRange&) = default;
};

// Sliders hold a double, toggles a bool, strings a text, custom parameters an
// object; groups and buttons none.
using DefaultValue = std::variant<std::monostate, double, bool, std::string, FxValue>;

// One parameter as its creation call described it. `group` is the group it
// lies in (none at the top level); a group end names the group it closes.
struct ParameterDefinition {
    ParameterKind kind = ParameterKind::groupStart;
    std::string name;
    uint32_t id = 0;
    FxParameterFlags flags = 0;
    DefaultValue defaultValue;
    SliderRange range;
    SEL selector;
    std::optional<uint32_t> group;

    friend bool operator==(const ParameterDefinition&, const ParameterDefinition&) = default;
};

struct CreationCall {
    ParameterDefinition parameter;
    bool accepted = false;
};

// Orders times by their rational value.
struct TimeBefore {
    bool operator()(CMTime a, CMTime b) const { return CMTimeCompare(a, b) < 0; }
};

// A value that may change over time: constant until the first key is set.
template <class T>
struct Curve {
    T constant{};
    std::map<CMTime, T, TimeBefore> keys;
};

class ParameterDocument {
public:
    // Records the call; adds the parameter unless `refuse` is set, its id is
    // already taken, or it ends a group when none is open. Answers whether it
    // was added.
    bool create(ParameterDefinition definition, bool refuse);

    std::vector<CreationCall> creationCalls() const;
    // The parameters made, in creation order (group ends not included).
    std::vector<ParameterDefinition> parameters() const;
    std::optional<ParameterDefinition> parameter(uint32_t id) const;

    // Values at a time; none when there is no such parameter of that kind.
    std::optional<double> floatValue(uint32_t id, CMTime time) const;
    std::optional<bool> boolValue(uint32_t id, CMTime time) const;
    // None also when the parameter holds no object.
    std::optional<FxValue> customValue(uint32_t id) const;
    std::optional<std::string> stringValue(uint32_t id) const;

    // Setters answer NO when there is no such parameter of that kind. A
    // constant replaces every key; a key makes the value vary in time.
    bool setFloatValue(uint32_t id, double value);
    bool setFloatKeyframe(uint32_t id, CMTime time, double value);
    bool setBoolValue(uint32_t id, bool value);
    bool setBoolKeyframe(uint32_t id, CMTime time, bool value);
    bool setCustomValue(uint32_t id, FxValue value);
    bool setStringValue(uint32_t id, std::string value);

    // A slider's or toggle's whole value: its constant and its keys.
    std::optional<Curve<double>> floatCurve(uint32_t id) const;
    std::optional<Curve<bool>> boolCurve(uint32_t id) const;

    // Called with the parameter's id after every value a setter stored, on
    // the setter's thread and outside the document's lock (the project file
    // learns of changes this way). An empty function stops the calls.
    using ChangeObserver = std::function<void(uint32_t id)>;
    void setChangeObserver(ChangeObserver observer);

private:
    struct Entry {
        ParameterDefinition definition;
        std::variant<std::monostate, Curve<double>, Curve<bool>, std::optional<FxValue>, std::string> value;
    };

    template <class T>
    std::optional<T> curveValue(uint32_t id, CMTime time) const;
    // A constant without a key time, else a key at that time.
    template <class T>
    bool setCurve(uint32_t id, std::optional<CMTime> keyTime, T value);
    template <class T>
    std::optional<Curve<T>> curve(uint32_t id) const;
    // Tells the observer, if any, when `stored` is true; answers `stored`.
    bool notify(uint32_t id, bool stored) const;

    Entry* find(uint32_t id);
    const Entry* find(uint32_t id) const;

    mutable std::mutex mutex_;
    std::vector<CreationCall> calls_;
    std::vector<Entry> entries_;
    // Open groups, innermost last; none for a start the host refused.
    std::vector<std::optional<uint32_t>> openGroups_;
    ChangeObserver observer_;
};

}  // namespace kv::host
