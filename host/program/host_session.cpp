#include "host/program/host_session.h"

#include "host/program/command_line.h"

namespace kv::host {
namespace {

bool projectExists(const std::filesystem::path& path) {
    std::error_code code;
    return std::filesystem::exists(path, code) || std::filesystem::is_symlink(path, code);
}

Error missing(const std::filesystem::path& path) { return Error{"The project " + path.string() + " does not exist."}; }

}  // namespace

Result<std::unique_ptr<HostSession>> HostSession::open(const std::filesystem::path& path) {
    return start(path, nullptr, std::nullopt);
}

Result<std::unique_ptr<HostSession>> HostSession::openToWrite(const std::filesystem::path& path,
                                                              std::string_view command,
                                                              const ProjectHeader* newProject) {
    // No lock file is left beside a project that is not there.
    if (!newProject && !projectExists(path)) return missing(path);
    auto lock = ProjectLock::acquire(path, std::string(kProgramName) + " " + std::string(command));
    if (!lock) return lock.error();
    return start(path, newProject, std::move(lock).value());
}

Result<std::unique_ptr<HostSession>> HostSession::start(const std::filesystem::path& path,
                                                        const ProjectHeader* newProject,
                                                        std::optional<ProjectLock> lock) {
    std::unique_ptr<HostSession> session(new HostSession());
    session->lock_ = std::move(lock);
    auto loaded = EffectInstance::load(kEffectClassName);
    if (!loaded) return Error{"The effect cannot be loaded: " + loaded.error().message};
    session->instance_ = std::move(loaded).value();
    FxTileableEffect* effect = session->instance_->effect();
    NSError error;
    if (!effect || !effect->addParametersWithError(&error)) {
        return Error{"The effect made no parameters: " + error.localizedDescription};
    }

    const bool exists = projectExists(path);
    if (!exists && !newProject) return missing(path);
    auto project = exists ? ProjectFile::open(path, kEffectClassName, session->document())
                          : ProjectFile::create(path, *newProject, session->document());
    if (!project) return project.error();
    session->project_ = std::move(project).value();
    session->instance_->timing().setTiming(session->project_->header().timing);
    return session;
}

void HostSession::setHeader(const ProjectHeader& header) {
    instance_->timing().setTiming(header.timing);
    project_->setHeader(header);
}

}  // namespace kv::host
