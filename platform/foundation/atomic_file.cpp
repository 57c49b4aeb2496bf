#include "platform/foundation/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace kv {
namespace {

std::string reason(int code) { return std::strerror(code); }

Error failure(const std::filesystem::path& path, const std::string& what, int code) {
    return Error{"Could not " + what + " " + path.string() + ": " + reason(code)};
}

// Closes a descriptor once, whatever way the scope is left.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    int close() {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

Result<void> writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return failure(path, "write", errno);
        bytes.remove_prefix(size_t(written));
    }
    return {};
}

// The file a path names once symbolic links are followed: the link's target
// (which may not exist yet), not the link.
Result<std::filesystem::path> followLinks(std::filesystem::path path) {
    constexpr int kMostLinks = 40;  // as the system's own limit on a path
    for (int followed = 0; followed <= kMostLinks; ++followed) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        std::error_code code;
        const std::filesystem::path target = std::filesystem::read_symlink(path, code);
        if (code) return failure(path, "follow the link", code.value());
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return failure(path, "follow the link", ELOOP);
}

std::filesystem::path directoryOf(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// Temporary files are named after the file and the writing process, and
// counted within it, so that two saves never share one.
const std::string kTemporaryMark = ".tmp-";

std::string temporaryPrefix(const std::filesystem::path& file) { return "." + file.filename().string() + kTemporaryMark; }

std::filesystem::path temporaryFor(const std::filesystem::path& file) {
    static std::atomic<unsigned> saves{0};
    return directoryOf(file) / (temporaryPrefix(file) + std::to_string(::getpid()) + "-" + std::to_string(saves++));
}

std::string sizeText(size_t bytes) {
    constexpr size_t kMiB = size_t(1) << 20;
    return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB" : std::to_string(bytes) + " bytes";
}

}  // namespace

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    const auto followed = followLinks(path);
    if (!followed) return followed.error();
    const std::filesystem::path& file = *followed;

    struct stat existing {};
    const bool exists = ::stat(file.c_str(), &existing) == 0;
    if (exists) {
        if (!S_ISREG(existing.st_mode)) return Error{"Could not replace " + file.string() + ": it is not a regular file"};
        const bool writable = (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                              ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
        if (!writable) return Error{"Could not replace " + file.string() + ": it is read-only"};
    }

    const std::filesystem::path temporary = temporaryFor(file);
    Descriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666));
    if (out.get() < 0) return failure(temporary, "create", errno);
    Result<void> written;
    if (exists) {
        // The owner may not be ours to give (a user's file saved by another
        // user who may write it); the mode always is.
        [[maybe_unused]] const int owned = ::fchown(out.get(), existing.st_uid, existing.st_gid);
        if (::fchmod(out.get(), existing.st_mode & 07777) != 0) written = failure(temporary, "set the mode of", errno);
    }
    if (written) written = writeAll(out.get(), bytes, temporary);
    if (written && ::fsync(out.get()) != 0) written = failure(temporary, "flush", errno);
    if (written && out.close() != 0) written = failure(temporary, "close", errno);
    if (written && ::rename(temporary.c_str(), file.c_str()) != 0) written = failure(file, "replace", errno);
    if (!written) {
        ::unlink(temporary.c_str());
        return written;
    }

    const std::filesystem::path directory = directoryOf(file);
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::fsync(dir.get()) != 0) return failure(directory, "flush the directory", errno);
    return {};
}

void removeLeftoverTemporaries(const std::filesystem::path& path) {
    const auto followed = followLinks(path);
    if (!followed) return;
    const std::string prefix = temporaryPrefix(*followed);
    std::error_code code;
    for (const auto& entry : std::filesystem::directory_iterator(directoryOf(*followed), code)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        // The writer's process id follows the prefix.
        pid_t writer = 0;
        const char* digits = name.data() + prefix.size();
        const auto [end, error] = std::from_chars(digits, name.data() + name.size(), writer);
        if (error != std::errc() || end == digits || (*end != '-' && end != name.data() + name.size())) continue;
        const bool gone = writer != ::getpid() && (writer <= 0 || (::kill(writer, 0) != 0 && errno == ESRCH));
        if (gone && entry.is_regular_file(code)) std::filesystem::remove(entry.path(), code);
    }
}

Result<std::string> readWholeFile(const std::filesystem::path& path, size_t maxBytes) {
    // Without blocking: opening a pipe with no writer would wait for one.
    Descriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (in.get() < 0 && errno == ENOENT) return Error{"The file " + path.string() + " does not exist."};
    if (in.get() < 0) return failure(path, "open", errno);
    struct stat status {};
    if (::fstat(in.get(), &status) != 0) return failure(path, "read", errno);
    if (S_ISDIR(status.st_mode)) return Error{path.string() + " is a directory, not a file."};
    if (!S_ISREG(status.st_mode)) return Error{path.string() + " is not a regular file."};
    const Error tooLarge{"The file " + path.string() + " is larger than " + sizeText(maxBytes) +
                         ", the most this program reads of it."};
    if (uint64_t(status.st_size) > maxBytes) return tooLarge;

    std::string contents(size_t(status.st_size), '\0');
    size_t filled = 0;
    // A file that grows while it is read is read up to one byte past the limit.
    for (;;) {
        if (filled == contents.size()) {
            if (contents.size() > maxBytes) return tooLarge;
            contents.resize(std::min(maxBytes + 1, std::max<size_t>(contents.size() * 2, 4096)));
        }
        const ssize_t got = ::read(in.get(), contents.data() + filled, contents.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failure(path, "read", errno);
        if (got == 0) break;
        filled += size_t(got);
    }
    if (filled > maxBytes) return tooLarge;
    contents.resize(filled);
    return contents;
}

}  // namespace kv
