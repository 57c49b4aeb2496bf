#pragma once
// The project on disk: one effect instance's document as JSON. It holds the
// value of every parameter the effect created (sliders and toggles with their
// keys, texts, and custom objects with data coded as base64), where the
// effect lies on the time line, and the media it was last applied to.
//
// The host saves the project whenever the effect has set a value: the
// changes made during one call of the effect are written together once the
// call has returned, so the file never holds part of what the effect meant
// as one change (a new analysis hash without its data). Each save replaces
// the file atomically, through a symbolic link to its target and with its
// mode kept; a read-only project is refused. A project that cannot be read
// (also one that is not a regular file, or far larger than any project) is
// refused and left as it is.
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "host/host_services.h"
#include "host/parameter_document.h"
#include "platform/foundation/result.h"

namespace kv::host {

// What a project holds beside the parameter values.
struct ProjectHeader {
    std::string effectClass;
    // The video the effect was last applied to; empty when none.
    std::string media;
    EffectTiming timing;

    friend bool operator==(const ProjectHeader&, const ProjectHeader&) = default;
};

// The project's JSON text, or an error when a value cannot be coded (a
// number that is not finite).
Result<std::string> encodeProject(const ProjectHeader& header, const ParameterDocument& document);

// Reads a project's text into a document that holds the effect's parameters.
// Nothing is changed unless the whole text is read: an error for text that is
// not a project, of another effect or a later version, or a value whose kind
// does not match its parameter's. Values of parameters the effect no longer
// has are passed over with a log line.
Result<ProjectHeader> restoreProject(std::string_view text, std::string_view effectClass,
                                     ParameterDocument& document);

class ProjectFile {
public:
    // The project at `path` read into `document`; an error when there is no
    // file there or it cannot be read. Temporary files that a killed save
    // left beside it are removed.
    static Result<std::unique_ptr<ProjectFile>> open(const std::filesystem::path& path,
                                                     std::string_view effectClass, ParameterDocument& document);
    // A new project at `path`, written at once; an error when the file exists.
    static Result<std::unique_ptr<ProjectFile>> create(const std::filesystem::path& path, ProjectHeader header,
                                                       ParameterDocument& document);

    ~ProjectFile();
    ProjectFile(const ProjectFile&) = delete;
    ProjectFile& operator=(const ProjectFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    ProjectHeader header() const;
    // Takes effect with the next save.
    void setHeader(ProjectHeader header);

    // Writes the project now.
    Result<void> save();
    // Writes the project when a value changed since the last save.
    Result<void> saveChanges();
    // saveChanges, the writing done on a thread of its own: the project's
    // text is taken now and written, durably, while the caller goes on.
    // While a save is still being written nothing is taken: the changes go
    // with a later call. The error of the save before is what this answers,
    // and its changes are saved again.
    Result<void> saveChangesInBackground();
    // Waits for a save still being written; its error, if any.
    Result<void> finishSaving();

private:
    ProjectFile(std::filesystem::path path, ProjectHeader header, ParameterDocument& document);
    // The project's text as it stands, its changes marked as taken (and as
    // not taken again when it cannot be made). Under mutex_.
    Result<std::string> takeText();

    std::filesystem::path path_;
    ParameterDocument& document_;
    std::atomic<bool> changed_{false};
    // Serialises saves; the document is read under it, so the last save
    // holds every change made before it.
    mutable std::mutex mutex_;
    ProjectHeader header_;
    // The save being written in the background, whether it still is, and
    // how it went.
    std::thread writer_;
    std::atomic<bool> writing_{false};
    Result<void> written_;
};

}  // namespace kv::host
