#pragma once
// Replacing a file so that a crash or a kill at any moment leaves either the
// old contents or the new ones, never a mix: the bytes go to a temporary file
// beside it, which is flushed to disk and renamed over the file, and the
// directory is flushed so that the rename itself is kept. Every file the
// program writes is written this way.
//
// The replaced file stays the user's file: a symbolic link stays a link and
// its target is what is replaced; the mode and the owner are kept; and a
// file that may not be written (no write permission for this user, or no
// write bit at all, which holds even for the superuser) is refused and left
// as it is, as is anything that is not a regular file (a device, a pipe, a
// socket, a folder). The temporary's name cannot be guessed beforehand, and
// it is made only where nothing stands, never through a planted link.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/result.h"

namespace kv {

// A file being written under a temporary name beside the one it replaces:
// removed when dropped, unless `commit` put it in place.
class AtomicFile {
public:
    // Checks what `path` names and makes the temporary; refuses before any
    // work whatever may not be replaced. The first write to a place in a
    // process also removes the temporaries killed writers left there.
    static Result<AtomicFile> open(const std::filesystem::path& path);
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    ~AtomicFile();

    // The temporary's descriptor, open for writing.
    int descriptor() const { return fd_; }
    // The path as given, for messages.
    const std::filesystem::path& path() const { return path_; }

    Result<void> write(std::string_view bytes);
    // Flushes the temporary to disk, renames it over the file, and flushes
    // the directory.
    Result<void> commit();

private:
    AtomicFile(std::filesystem::path path, std::filesystem::path target, std::filesystem::path temporary, int fd);

    std::filesystem::path path_;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

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
