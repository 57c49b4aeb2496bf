#pragma once
// Whether bytes are text: well-formed UTF-8 as the platform's strings accept
// it (no overlong forms, no surrogates, nothing above U+10FFFF).
#include <string_view>

namespace kv {

bool isValidUtf8(std::string_view bytes);

}  // namespace kv
