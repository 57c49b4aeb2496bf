#include "platform/foundation/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

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

}  // namespace

Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    const std::filesystem::path directory = path.has_parent_path() ? path.parent_path() : ".";
    const std::filesystem::path temporary =
        directory / ("." + path.filename().string() + ".tmp-" + std::to_string(::getpid()));

    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0) return failure(temporary, "create", errno);
    auto written = writeAll(file.get(), bytes, temporary);
    if (written && ::fsync(file.get()) != 0) written = failure(temporary, "flush", errno);
    if (written && file.close() != 0) written = failure(temporary, "close", errno);
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) written = failure(path, "replace", errno);
    if (!written) {
        ::unlink(temporary.c_str());
        return written;
    }

    Descriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::fsync(dir.get()) != 0) return failure(directory, "flush the directory", errno);
    return {};
}

Result<std::string> readWholeFile(const std::filesystem::path& path) {
    std::error_code code;
    if (!std::filesystem::exists(path, code)) return Error{"The file " + path.string() + " does not exist."};
    if (std::filesystem::is_directory(path, code)) return Error{path.string() + " is a directory, not a file."};
    std::ifstream in(path, std::ios::binary);
    if (!in) return failure(path, "open", errno);
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) return failure(path, "read", errno);
    return contents.str();
}

}  // namespace kv
