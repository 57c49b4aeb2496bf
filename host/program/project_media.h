#pragma once
// Whether a project's stored analysis belongs to the clip it is about to be
// used with: an analysis of one video must not be continued, or rendered,
// with another video or at another image size.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "host/parameter_document.h"
#include "host/project_file.h"
#include "platform/foundation/result.h"

namespace kv::host {

// The media name the project's header keeps for a clip: the video's absolute
// path, or "synthetic clip" for the built-in clip (no video).
std::string mediaName(const std::optional<std::filesystem::path>& video);

// An error naming both when the project holds an analysis of another video
// (its header names another file) or of another image size than
// `width` × `height`; fine when it holds no analysis (or one without samples). `media` is the clip's
// media name as the header keeps it (an absolute path, or "synthetic clip").
Result<void> checkProjectMedia(const std::filesystem::path& project, const ProjectHeader& header,
                               const ParameterDocument& document, const std::string& media, int64_t width,
                               int64_t height);

// As checkProjectMedia, for a run that adds its samples to the stored
// analysis; also an error when that analysis cannot be decoded: the effect
// starts such a run without it, and its samples would replace all of it.
Result<void> checkAnalysisToContinue(const std::filesystem::path& project, const ProjectHeader& header,
                                     const ParameterDocument& document, const std::string& media, int64_t width,
                                     int64_t height);

// Removes the stored analysis from the document: its two parameters go back
// to their defaults, so the next analysis starts afresh.
void clearStoredAnalysis(ParameterDocument& document);

}  // namespace kv::host
