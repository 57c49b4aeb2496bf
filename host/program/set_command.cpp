#include <cmath>
#include <cstdlib>
#include <variant>

#include "host/program/command_line.h"
#include "host/program/commands.h"
#include "host/program/host_session.h"
#include "platform/foundation/double_text.h"

namespace kv::host {
namespace {

// The host's parameter flag that lifts a slider's minimum and maximum.
constexpr FxParameterFlags kFxParameterFlag_IGNORE_MINMAX = 1u << 8;

using Value = std::variant<double, bool, std::string>;

struct Assignment {
    ParameterDefinition parameter;
    Value value;
};

std::string nameOf(const ParameterDefinition& p) { return std::to_string(p.id) + " (" + p.name + ")"; }

std::optional<double> number(std::string text, bool percent) {
    double scale = 1;
    if (percent && !text.empty() && text.back() == '%') {
        text.pop_back();
        scale = 0.01;
    }
    const std::optional<double> value = parseFiniteNumber(text);
    if (!value) return std::nullopt;
    return *value * scale;
}

std::optional<bool> flag(const std::string& text) {
    if (text == "true" || text == "yes" || text == "on" || text == "1") return true;
    if (text == "false" || text == "no" || text == "off" || text == "0") return false;
    return std::nullopt;
}

Result<Assignment> parseAssignment(const std::string& text, const ParameterDocument& document) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) return Error{"'" + text + "' is not of the form ID=VALUE."};
    const std::string idText = text.substr(0, equals);
    const std::string valueText = text.substr(equals + 1);
    char* end = nullptr;
    errno = 0;
    const unsigned long long id = std::strtoull(idText.c_str(), &end, 10);
    const bool numeric = !idText.empty() && idText[0] != '-' && *end == '\0' && errno == 0 && id <= UINT32_MAX;
    const auto parameter = numeric ? document.parameter(uint32_t(id)) : std::nullopt;
    if (!parameter) {
        return Error{"The effect has no parameter with the id '" + idText + "' (see 'info --parameters')."};
    }
    switch (parameter->kind) {
        case ParameterKind::percentSlider:
        case ParameterKind::floatSlider: {
            const auto value = number(valueText, parameter->kind == ParameterKind::percentSlider);
            if (!value) return Error{"Parameter " + nameOf(*parameter) + " takes a number, not '" + valueText + "'."};
            const SliderRange& range = parameter->range;
            const bool limited = !(parameter->flags & kFxParameterFlag_IGNORE_MINMAX);
            if (limited && (*value < range.parameterMin || *value > range.parameterMax)) {
                return Error{"The value " + valueText + " is outside the range of parameter " + nameOf(*parameter) +
                             ", " + doubleText(range.parameterMin) + " to " + doubleText(range.parameterMax) + "."};
            }
            return Assignment{*parameter, *value};
        }
        case ParameterKind::toggle: {
            const auto value = flag(valueText);
            if (!value) return Error{"Parameter " + nameOf(*parameter) + " takes true or false, not '" + valueText + "'."};
            return Assignment{*parameter, *value};
        }
        case ParameterKind::string: return Assignment{*parameter, valueText};
        default: return Error{"Parameter " + nameOf(*parameter) + " holds no value that can be set by hand."};
    }
}

std::string valueText(const Value& value) {
    if (const double* d = std::get_if<double>(&value)) return doubleText(*d);
    if (const bool* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
    return "\"" + std::get<std::string>(value) + "\"";
}

}  // namespace

int runCommand(const SetCommand& command, const CommandContext& context) {
    auto opened = HostSession::open(command.project);
    if (!opened) return reportFailure(context, opened.error().message);
    HostSession& session = **opened;
    ParameterDocument& document = session.document();

    // Every assignment is checked before any is made.
    std::vector<Assignment> assignments;
    for (const std::string& text : command.assignments) {
        auto assignment = parseAssignment(text, document);
        if (!assignment) return reportFailure(context, assignment.error().message);
        assignments.push_back(std::move(assignment).value());
    }

    FxTileableEffect* effect = session.instance().effect();
    const CMTime time = session.instance().timing().timing().startTime;
    for (const Assignment& a : assignments) {
        const uint32_t id = a.parameter.id;
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, double>) {
                    document.setFloatValue(id, v);
                } else if constexpr (std::is_same_v<T, bool>) {
                    document.setBoolValue(id, v);
                } else {
                    document.setStringValue(id, v);
                }
            },
            a.value);
        NSError error;
        if (effect && !effect->parameterChanged(id, time, &error)) {
            context.err << kProgramName << ": warning: the effect answered the change of " << nameOf(a.parameter)
                        << " with: " << error.localizedDescription << "\n";
        }
        context.out << a.parameter.name << " (" << id << ") = " << valueText(a.value) << "\n";
    }
    if (auto saved = session.project().saveChanges(); !saved) return reportFailure(context, saved.error().message);
    return 0;
}

}  // namespace kv::host
