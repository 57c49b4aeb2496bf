// Decodes arbitrary bytes as a per-frame state; whatever decodes must encode
// and decode again to the same record.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analysis/plugin_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = kv::decodePluginStateText(text);
    if (!decoded) return 0;
    const auto encoded = kv::encodePluginStateText(*decoded);
    if (!encoded) std::abort();
    const auto again = kv::decodePluginStateText(*encoded);
    if (!again || !(*again == *decoded)) std::abort();
    return 0;
}
