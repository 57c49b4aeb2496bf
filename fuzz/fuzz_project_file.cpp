// Restores arbitrary bytes as a host project; whatever restores must save
// and restore again to the same project text.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "host/project_file.h"
#include "platform/foundation/log.h"

namespace {

using namespace kv::host;

// One parameter of every kind that holds a value, as the effect makes them.
void addParameters(ParameterDocument& document) {
    auto add = [&](ParameterKind kind, uint32_t id, DefaultValue value) {
        ParameterDefinition definition;
        definition.kind = kind;
        definition.id = id;
        definition.name = "p" + std::to_string(id);
        definition.defaultValue = std::move(value);
        document.create(definition, false);
    };
    add(ParameterKind::custom, 4, FxValue(NSDictionary{}));
    add(ParameterKind::custom, 5, FxValue(NSDictionary{}));
    add(ParameterKind::percentSlider, 31, 1.0);
    add(ParameterKind::floatSlider, 21, 1920.0);
    add(ParameterKind::toggle, 70, false);
    add(ParameterKind::string, 13, std::string("1.0"));
}

// The project text of what `text` restores to, or none when it is refused.
std::optional<std::string> resaved(std::string_view text) {
    ParameterDocument document;
    addParameters(document);
    const auto header = restoreProject(text, "KestrelvantagePlugIn", document);
    if (!header) return std::nullopt;
    const auto saved = encodeProject(*header, document);
    if (!saved) std::abort();  // what was read can always be written
    return *saved;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (kv::setLogSink([](std::string_view) {}), true);
    (void)quiet;
    const auto first = resaved(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!first) return 0;
    const auto second = resaved(*first);
    if (!second || *second != *first) std::abort();
    return 0;
}
