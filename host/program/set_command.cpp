#include <algorithm>
#include <cctype>
#include <string>
#include <variant>

#include "host/program/command_line.h"
#include "host/program/commands.h"
#include "host/program/host_session.h"
#include "host/program/slider_units.h"
#include "platform/foundation/utf8.h"

namespace kv::host {
namespace {

using Value = std::variant<double, bool, std::string>;

struct Assignment {
    ParameterDefinition parameter;
    Value value;
};

std::string nameOf(const ParameterDefinition& p) { return std::to_string(p.id) + " (" + p.name + ")"; }

// "true" or "false" in any case, as the help says.
std::optional<bool> flag(std::string_view text) {
    const auto is = [&](std::string_view word) {
        return text.size() == word.size() && std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) == b;
               });
    };
    if (is("true")) return true;
    if (is("false")) return false;
    return std::nullopt;
}

Result<Assignment> parseAssignment(const std::string& text, const ParameterDocument& document) {
    // Values are kept as text in the project, which holds UTF-8 alone.
    if (!isValidUtf8(text)) return Error{"An assignment is not UTF-8 text; parameter values must be."};
    const size_t equals = text.find('=');
    if (equals == std::string::npos) return Error{"'" + text + "' is not of the form ID=VALUE."};
    const std::string idText = text.substr(0, equals);
    const std::string valueText = text.substr(equals + 1);
    const std::optional<uint32_t> id = parseWholeNumber(idText);
    const auto parameter = id ? document.parameter(*id) : std::nullopt;
    if (!parameter) {
        return Error{"The effect has no parameter with the id '" + idText + "' (see 'info --parameters')."};
    }
    if (parameter->flags & kFxParameterFlag_DISABLED) {
        return Error{"Parameter " + nameOf(*parameter) +
                     " is display only: the effect keeps it up to date, and it cannot be set."};
    }
    switch (parameter->kind) {
        case ParameterKind::percentSlider:
        case ParameterKind::floatSlider: {
            const auto value = sliderValue(*parameter, valueText);
            if (!value) {
                return Error{"Parameter " + nameOf(*parameter) + " takes " + sliderForms(*parameter) + ", not '" +
                             valueText + "'."};
            }
            const SliderRange& range = parameter->range;
            const bool limited = !(parameter->flags & kFxParameterFlag_IGNORE_MINMAX);
            if (limited && (*value < range.parameterMin || *value > range.parameterMax)) {
                return Error{"The value " + valueText + " is outside the range of parameter " + nameOf(*parameter) +
                             ", " + sliderText(*parameter, range.parameterMin) + " to " +
                             sliderText(*parameter, range.parameterMax) + "."};
            }
            return Assignment{*parameter, *value};
        }
        case ParameterKind::toggle: {
            const auto value = flag(valueText);
            if (!value) {
                return Error{"Parameter " + nameOf(*parameter) + " takes true or false (in any case), not '" +
                             valueText + "'."};
            }
            return Assignment{*parameter, *value};
        }
        case ParameterKind::string: return Assignment{*parameter, valueText};
        default: return Error{"Parameter " + nameOf(*parameter) + " holds no value that can be set by hand."};
    }
}

std::string valueText(const Assignment& a) {
    if (const double* d = std::get_if<double>(&a.value)) return sliderText(a.parameter, *d);
    if (const bool* b = std::get_if<bool>(&a.value)) return *b ? "true" : "false";
    return "\"" + std::get<std::string>(a.value) + "\"";
}

}  // namespace

int runCommand(const SetCommand& command, const CommandContext& context) {
    auto opened = HostSession::openToWrite(command.project, "set");
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
    // Shown once saved: a project that cannot be written keeps its values.
    std::string changed;
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
        changed += a.parameter.name + " (" + std::to_string(id) + ") = " + valueText(a) + "\n";
    }
    if (auto saved = session.project().saveChanges(); !saved) return reportFailure(context, saved.error().message);
    context.out << changed;
    return 0;
}

}  // namespace kv::host
