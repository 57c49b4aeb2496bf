#include "host/project_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace kv::host {
namespace {

// The holder's record is one short line: "PID WHAT IT RUNS".
constexpr size_t kLongestRecord = 256;

Error cannotLock(const std::filesystem::path& project, const std::filesystem::path& lockFile, std::string_view why) {
    return Error{"Cannot lock the project " + project.string() + " for writing (" + lockFile.string() + ": " +
                 std::string(why) + "); it was left as it is."};
}

// Who holds the lock, from its record: "process 42 (kestrelvantage-host
// analyze)", or "another process" when the record is not there yet (the
// holder writes it just after it locks) or not one this program writes.
std::string holderOf(int fd) {
    char bytes[kLongestRecord];
    ssize_t size = -1;
    do size = ::pread(fd, bytes, sizeof bytes, 0);
    while (size < 0 && errno == EINTR);
    const std::string_view record(bytes, size > 0 ? size_t(size) : 0);
    const size_t space = record.find(' ');
    const size_t end = record.find('\n');
    if (space == std::string_view::npos || end == std::string_view::npos || space > end) return "another process";
    long pid = 0;
    const auto parsed = std::from_chars(record.data(), record.data() + space, pid);
    if (parsed.ec != std::errc() || parsed.ptr != record.data() + space || pid <= 0) return "another process";
    return "process " + std::to_string(pid) + " (" + std::string(record.substr(space + 1, end - space - 1)) + ")";
}

void writeRecord(int fd, std::string_view holder) {
    const std::string_view running = holder.substr(0, kLongestRecord / 2);
    const std::string record = std::to_string(::getpid()) + " " + std::string(running) + "\n";
    // A lock file this user may only read (another user's) still locks; it
    // then names no holder.
    if (::ftruncate(fd, 0) != 0) return;
    [[maybe_unused]] const ssize_t written = ::pwrite(fd, record.data(), record.size(), 0);
}

}  // namespace

std::filesystem::path ProjectLock::lockFileOf(const std::filesystem::path& project) {
    // Every name of one project leads to the same lock: the one beside the
    // file each save replaces.
    std::error_code code;
    std::filesystem::path file = std::filesystem::weakly_canonical(project, code);
    if (code) file = std::filesystem::absolute(project, code);
    return file.parent_path() / ("." + file.filename().string() + ".lock");
}

Result<ProjectLock> ProjectLock::acquire(const std::filesystem::path& project, std::string_view holder) {
    const std::filesystem::path lockFile = lockFileOf(project);
    // Not through a link someone put in its place; never waiting on a pipe.
    constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
    if (fd < 0 && errno == EACCES) {
        fd = ::open(lockFile.c_str(), O_RDONLY | kFlags);
        // Not there, and this user may not make it: the permission is why.
        if (fd < 0 && errno == ENOENT) errno = EACCES;
    }
    if (fd < 0 && errno == ENOENT) {
        return Error{"The project " + project.string() + " cannot be written: the folder " +
                     lockFile.parent_path().string() + " does not exist."};
    }
    if (fd < 0) return cannotLock(project, lockFile, errno == ELOOP ? "a symbolic link" : std::strerror(errno));
    const auto refuse = [&](Error error) {
        ::close(fd);
        return error;
    };
    struct stat status {};
    if (::fstat(fd, &status) != 0) return refuse(cannotLock(project, lockFile, std::strerror(errno)));
    if (!S_ISREG(status.st_mode)) return refuse(cannotLock(project, lockFile, "not a regular file"));
    int locked = -1;
    do locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK) {
        return refuse(Error{"The project " + project.string() + " is being written by " + holderOf(fd) +
                            "; try again when it ends. It was left as it is."});
    }
    if (locked != 0) return refuse(cannotLock(project, lockFile, std::strerror(errno)));
    writeRecord(fd, holder);
    return ProjectLock(fd);
}

ProjectLock::ProjectLock(ProjectLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

ProjectLock& ProjectLock::operator=(ProjectLock&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

ProjectLock::~ProjectLock() { release(); }

void ProjectLock::release() {
    if (fd_ < 0) return;
    // Cleared first, so that no record names a process that holds nothing.
    [[maybe_unused]] const int cleared = ::ftruncate(fd_, 0);
    ::close(fd_);  // which releases the lock
    fd_ = -1;
}

}  // namespace kv::host
