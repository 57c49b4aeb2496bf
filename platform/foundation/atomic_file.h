#pragma once
// Replacing a file so that a crash or a kill at any moment leaves either the
// old contents or the new ones, never a mix: the bytes go to a temporary file
// beside it, which is flushed to disk and renamed over the file, and the
// directory is flushed so that the rename itself is kept.
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/result.h"

namespace kv {

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// The whole file, or an error that names it and says why.
Result<std::string> readWholeFile(const std::filesystem::path& path);

}  // namespace kv
