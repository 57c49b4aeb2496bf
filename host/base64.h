#pragma once
// Base64 text of data (the standard alphabet, with padding), as the project
// file stores data objects.
#include <optional>
#include <string>
#include <string_view>

#include "platform/fxplug/fx_value.h"

namespace kv::host {

std::string base64Encode(const NSData& data);

// None for text that is not strict base64: a length that is not a multiple
// of four, a character outside the alphabet, or padding anywhere but the end.
std::optional<NSData> base64Decode(std::string_view text);

}  // namespace kv::host
