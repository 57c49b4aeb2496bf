#include "host/program/slider_units.h"

#include <cstdio>

#include "host/program/command_line.h"
#include "platform/foundation/double_text.h"

namespace kv::host {
namespace {

bool inPercent(const ParameterDefinition& slider) { return slider.kind == ParameterKind::percentSlider; }

}  // namespace

std::string sliderText(const ParameterDefinition& slider, double stored) {
    if (!inPercent(slider)) return doubleText(stored);
    // The fewest digits of percent whose hundredth is the stored fraction;
    // the product stored * 100 itself often is not (0.15 * 100 is
    // 15.000000000000002).
    for (int digits = 1; digits <= 17; ++digits) {
        char text[48];
        std::snprintf(text, sizeof text, "%.*g", digits, stored * 100);
        const std::optional<double> percent = parseFiniteNumber(text);
        if (percent && *percent / 100 == stored) return doubleText(*percent) + "%";
    }
    return doubleText(stored * 100) + "%";
}

std::optional<double> sliderValue(const ParameterDefinition& slider, std::string_view text) {
    if (!inPercent(slider)) return parseFiniteNumber(text);
    if (!text.empty() && text.back() == '%') text.remove_suffix(1);
    const std::optional<double> percent = parseFiniteNumber(text);
    if (!percent) return std::nullopt;
    return *percent / 100;
}

std::string sliderForms(const ParameterDefinition& slider) {
    return inPercent(slider) ? "a percentage in decimal, such as 30 or 12.5%" : "a decimal number, such as 2 or -0.5";
}

}  // namespace kv::host
