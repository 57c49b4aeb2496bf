#pragma once
// One writer per project. A command that writes a project holds its lock
// from before it reads the project until it ends, so that two writers never
// both read the same file and then save over each other (the later save
// would silently drop what the other did). Readers take no lock: each save
// replaces the file whole, so a reader sees one save or the next.
//
// The lock is flock() on a lock file beside the project, ".NAME.lock": each
// save replaces the project by another file, which a lock on the project
// itself would not follow. The holder writes its process id and what it runs
// into the lock file, so that a writer refused can name it. The lock file is
// left in place afterwards: removing it while another process is about to
// lock it would let two processes each lock a file of their own.
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/result.h"

namespace kv::host {

class ProjectLock {
public:
    // The lock of the project at `project` (of its target, when it is a
    // symbolic link), held by this process running `holder` (as
    // "kestrelvantage-host analyze"). An error when another process holds
    // it, naming that process, or when the lock file cannot be made.
    static Result<ProjectLock> acquire(const std::filesystem::path& project, std::string_view holder);

    // The lock file of `project`.
    static std::filesystem::path lockFileOf(const std::filesystem::path& project);

    ProjectLock(ProjectLock&& other) noexcept;
    ProjectLock& operator=(ProjectLock&& other) noexcept;
    ProjectLock(const ProjectLock&) = delete;
    ProjectLock& operator=(const ProjectLock&) = delete;
    // Clears the holder's record and releases the lock.
    ~ProjectLock();

private:
    explicit ProjectLock(int fd) : fd_(fd) {}
    void release();

    int fd_ = -1;
};

}  // namespace kv::host
