#pragma once
// Slider values in the one unit the host's inspector shows them in: a
// percent slider in percent (its stored fraction 0.3 is "30.0%"), any other
// slider as it is stored. The set and info commands read and write values
// only through these, so a value shown can be typed back as it is.
#include <optional>
#include <string>
#include <string_view>

#include "host/parameter_document.h"

namespace kv::host {

// The stored value in the slider's unit: the shortest text that reads back
// as exactly the stored value ("30.0%", "1920.0").
std::string sliderText(const ParameterDefinition& slider, double stored);

// The value to store for a text in the slider's unit: a decimal number, for
// a percent slider with or without "%" ("30" and "30%" are both 0.3). None
// when the text is no such number.
std::optional<double> sliderValue(const ParameterDefinition& slider, std::string_view text);

// The forms sliderValue takes, for messages: "a decimal number, such as ...".
std::string sliderForms(const ParameterDefinition& slider);

}  // namespace kv::host
