#pragma once
// One effect instance of the program with its project: the effect loaded by
// its class name, its parameters created, and the project's values restored
// into the host's document (or a new project written).
#include <filesystem>
#include <memory>

#include "host/effect_instance.h"
#include "host/project_file.h"
#include "platform/foundation/result.h"

namespace kv::host {

// The effect the program hosts, by the class name its plug-in list gives.
inline constexpr const char* kEffectClassName = "KestrelvantagePlugIn";

class HostSession {
public:
    // The session of the project at `path`. A missing project is an error,
    // unless `newProject` is given: then the project is created with it.
    static Result<std::unique_ptr<HostSession>> open(const std::filesystem::path& path,
                                                     const ProjectHeader* newProject = nullptr);

    EffectInstance& instance() { return *instance_; }
    ParameterDocument& document() { return instance_->document(); }
    ProjectFile& project() { return *project_; }

    // Places the effect on the time line as the header says and keeps that
    // in the project.
    void setHeader(const ProjectHeader& header);

private:
    HostSession() = default;

    std::unique_ptr<EffectInstance> instance_;
    std::unique_ptr<ProjectFile> project_;
};

}  // namespace kv::host
