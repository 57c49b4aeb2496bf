#pragma once
// One effect instance of the program with its project: the effect loaded by
// its class name, its parameters created, and the project's values restored
// into the host's document (or a new project written).
#include <filesystem>
#include <memory>

#include <optional>
#include <string_view>

#include "host/effect_instance.h"
#include "host/project_file.h"
#include "host/project_lock.h"
#include "platform/foundation/result.h"

namespace kv::host {

// The effect the program hosts, by the class name its plug-in list gives.
inline constexpr const char* kEffectClassName = "KestrelvantagePlugIn";

class HostSession {
public:
    // A session that reads the project at `path`, an error when it is
    // missing. It takes no lock, and is not kept from reading by a writer.
    static Result<std::unique_ptr<HostSession>> open(const std::filesystem::path& path);
    // The session of `command` (as "analyze"), which writes the project: it
    // holds the project's lock while it lives, and is refused while another
    // process holds it. A missing project is an error, unless `newProject`
    // is given: then the project is created with it.
    static Result<std::unique_ptr<HostSession>> openToWrite(const std::filesystem::path& path,
                                                            std::string_view command,
                                                            const ProjectHeader* newProject = nullptr);

    EffectInstance& instance() { return *instance_; }
    ParameterDocument& document() { return instance_->document(); }
    ProjectFile& project() { return *project_; }

    // Places the effect on the time line as the header says and keeps that
    // in the project.
    void setHeader(const ProjectHeader& header);

private:
    HostSession() = default;
    static Result<std::unique_ptr<HostSession>> start(const std::filesystem::path& path,
                                                      const ProjectHeader* newProject,
                                                      std::optional<ProjectLock> lock);

    // Released last, once nothing more is saved.
    std::optional<ProjectLock> lock_;
    std::unique_ptr<EffectInstance> instance_;
    std::unique_ptr<ProjectFile> project_;
};

}  // namespace kv::host
