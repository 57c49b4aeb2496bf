// Decodes arbitrary bytes as a stored analysis; whatever decodes must encode
// and decode again to the same record.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "analysis/motion_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = kv::decodeMotionAnalysisText(text);
    if (!decoded) return 0;
    const auto encoded = kv::encodeMotionAnalysisText(*decoded);
    if (!encoded) std::abort();
    const auto again = kv::decodeMotionAnalysisText(*encoded);
    if (!again || !(*again == *decoded)) std::abort();
    return 0;
}
