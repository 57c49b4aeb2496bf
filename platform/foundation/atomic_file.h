#pragma once
// Replacing a file so that a crash or a kill at any moment leaves either the
// old contents or the new ones, never a mix: the bytes go to a temporary file
// beside it, which is flushed to disk and renamed over the file, and the
// directory is flushed so that the rename itself is kept.
//
// The replaced file stays the user's file: a symbolic link stays a link and
// its target is what is replaced; the mode and the owner are kept; and a
// file that may not be written (no write permission for this user, or no
// write bit at all, which holds even for the superuser) is refused and left
// as it is.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/result.h"

namespace kv {

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Removes the temporary files that replacing `path` left behind when the
// process writing them was killed before its rename (the processes that
// made them no longer run).
void removeLeftoverTemporaries(const std::filesystem::path& path);

// The whole of a regular file of at most `maxBytes` bytes, or an error that
// names it and says why. Whatever is not a regular file (a directory, a
// device, a pipe) is refused without being read or waited on.
Result<std::string> readWholeFile(const std::filesystem::path& path, size_t maxBytes);

}  // namespace kv
