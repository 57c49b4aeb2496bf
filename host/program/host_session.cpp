#include "host/program/host_session.h"

namespace kv::host {

Result<std::unique_ptr<HostSession>> HostSession::open(const std::filesystem::path& path,
                                                       const ProjectHeader* newProject) {
    std::unique_ptr<HostSession> session(new HostSession());
    auto loaded = EffectInstance::load(kEffectClassName);
    if (!loaded) return Error{"The effect cannot be loaded: " + loaded.error().message};
    session->instance_ = std::move(loaded).value();
    FxTileableEffect* effect = session->instance_->effect();
    NSError error;
    if (!effect || !effect->addParametersWithError(&error)) {
        return Error{"The effect made no parameters: " + error.localizedDescription};
    }

    std::error_code code;
    const bool exists = std::filesystem::exists(path, code) || std::filesystem::is_symlink(path, code);
    if (!exists && !newProject) return Error{"The project " + path.string() + " does not exist."};
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
