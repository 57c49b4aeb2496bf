#include "platform/foundation/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/random.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

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

// Temporary files are named after the file and the writing process, so that
// the leftovers of a killed writer can be told from those of a live one, and
// end in random digits, so that no one can plant a name before it is made.
const std::string kTemporaryMark = ".tmp-";

std::string temporaryPrefix(const std::filesystem::path& file) { return "." + file.filename().string() + kTemporaryMark; }

std::filesystem::path temporaryFor(const std::filesystem::path& file) {
    uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != ssize_t(sizeof random)) {
        // Never expected; a clock's nanoseconds still vary from run to run.
        random = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) * 0x9E3779B97F4A7C15u;
    }
    char digits[17] = {};
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(random));
    return directoryOf(file) / (temporaryPrefix(file) + std::to_string(::getpid()) + "-" + digits);
}

std::string sizeText(size_t bytes) {
    constexpr size_t kMiB = size_t(1) << 20;
    return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB" : std::to_string(bytes) + " bytes";
}

// Why a file that is not a regular one is refused.
std::string notRegular(mode_t mode) {
    const char* kind = S_ISDIR(mode)                     ? "a folder"
                       : S_ISFIFO(mode)                  ? "a FIFO (named pipe)"
                       : S_ISSOCK(mode)                  ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                         : "something else";
    return std::string("it is ") + kind + ", not a regular file";
}

Error refusal(const std::filesystem::path& path, const std::string& why) {
    return Error{path.string() + " cannot be written: " + why};
}

// Removes a place's leftovers once per process: a project is saved after
// every analysed frame, and its folder need not be read each time. Never
// destroyed: a thread may still save while the process ends.
void removeLeftoversOnce(const std::filesystem::path& file) {
    static std::mutex& mutex = *new std::mutex;
    static std::set<std::string>& cleaned = *new std::set<std::string>;
    std::error_code code;
    const std::filesystem::path absolute = std::filesystem::absolute(file, code);
    std::lock_guard lock(mutex);
    if (code || cleaned.insert(absolute.string()).second) removeLeftoverTemporaries(file);
}

}  // namespace

Result<AtomicFile> AtomicFile::open(const std::filesystem::path& path) {
    const auto followed = followLinks(path);
    if (!followed) return followed.error();
    const std::filesystem::path& file = *followed;

    struct stat existing {};
    const bool exists = ::stat(file.c_str(), &existing) == 0;
    if (exists) {
        if (!S_ISREG(existing.st_mode)) return refusal(path, notRegular(existing.st_mode));
        const bool writable = (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                              ::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
        if (!writable) return refusal(path, "it is read-only");
    } else if (errno != ENOENT) {
        return refusal(path, reason(errno));
    }
    removeLeftoversOnce(file);

    std::filesystem::path temporary;
    int fd = -1;
    // Another name when one happens to be taken (never expected).
    for (int tries = 0; tries < 3 && fd < 0; ++tries) {
        temporary = temporaryFor(file);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        if (errno == ENOENT) return refusal(path, "the folder " + directoryOf(file).string() + " does not exist");
        return refusal(path, reason(errno));
    }
    AtomicFile opened(path, file, temporary, fd);
    if (exists) {
        // The owner may not be ours to give (a user's file saved by another
        // user who may write it); the mode always is.
        [[maybe_unused]] const int owned = ::fchown(fd, existing.st_uid, existing.st_gid);
        if (::fchmod(fd, existing.st_mode & 07777) != 0) return failure(path, "keep the mode of", errno);
    }
    return opened;
}

AtomicFile::AtomicFile(std::filesystem::path path, std::filesystem::path target, std::filesystem::path temporary,
                       int fd)
    : path_(std::move(path)), target_(std::move(target)), temporary_(std::move(temporary)), fd_(fd) {}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : path_(std::move(other.path_)),
      target_(std::move(other.target_)),
      temporary_(std::exchange(other.temporary_, {})),
      fd_(std::exchange(other.fd_, -1)) {}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

Result<void> AtomicFile::write(std::string_view bytes) {
    if (fd_ < 0) return Error{"Could not write " + path_.string() + ": it is closed"};
    return writeAll(fd_, bytes, path_);
}

Result<void> AtomicFile::commit() {
    if (fd_ < 0) return Error{"Could not write " + path_.string() + ": it is closed"};
    if (::fsync(fd_) != 0) return failure(path_, "flush", errno);
    const int closed = ::close(std::exchange(fd_, -1));
    if (closed != 0) return failure(path_, "close", errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) return failure(path_, "replace", errno);
    temporary_.clear();
    const std::filesystem::path directory = directoryOf(target_);
    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::fsync(dir.get()) != 0) return failure(directory, "flush the directory", errno);
    return {};
}

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    auto file = AtomicFile::open(path);
    if (!file) return file.error();
    if (auto written = file->write(bytes); !written) return written;
    return file->commit();
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
        // A link planted under such a name is left alone: only files go.
        if (gone && std::filesystem::is_regular_file(entry.symlink_status(code))) {
            std::filesystem::remove(entry.path(), code);
        }
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
