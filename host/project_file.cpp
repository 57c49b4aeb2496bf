#include "host/project_file.h"

#include <functional>
#include <limits>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/foundation/atomic_file.h"
#include "host/base64.h"
#include "platform/coremedia/cmtime_coding.h"
#include "platform/foundation/json_coding.h"
#include "platform/foundation/log.h"
#include "platform/foundation/utf8.h"

namespace kv::host {
namespace {

using json::Document;
using json::Reader;
using json::Value;

constexpr const char* kFormat = "Kestrelvantage host project";
constexpr int64_t kVersion = 1;
// Dictionaries inside dictionaries deeper than this are refused rather than
// followed: no value the effect stores comes near it.
constexpr int kDeepestValue = 32;
// A project holds a few hundred bytes of analysis per second of the longest
// clips; a file larger than this is not one.
constexpr size_t kLargestProject = size_t(256) << 20;

// The kinds that hold a value, by their name in the file.
constexpr std::pair<ParameterKind, const char*> kKindNames[] = {
    {ParameterKind::percentSlider, "percentSlider"}, {ParameterKind::floatSlider, "floatSlider"},
    {ParameterKind::toggle, "toggle"},               {ParameterKind::string, "string"},
    {ParameterKind::custom, "custom"},
};

const char* kindName(ParameterKind kind) {
    for (const auto& [k, name] : kKindNames) {
        if (k == kind) return name;
    }
    return nullptr;
}

// Texts: JSON text is UTF-8, and a text that is not cannot be stored.
Value utf8Text(const std::string& value, std::string_view key) {
    if (!isValidUtf8(value)) json::fail(key, "holds text that is not UTF-8, which a project cannot store");
    return value;
}

std::string readString(const Reader& reader, std::string_view key) {
    const Document& value = reader.member(key);
    if (!value.is_string()) json::fail(key, "expected a string");
    return value.get<std::string>();
}

// The media path is kept as the bytes it is, so that the same file opens
// again: under "media" as text, and when it is not UTF-8 (a path may hold
// any bytes) also as base64 under "mediaBytes". Readers that do not know
// "mediaBytes" still find a text under "media", with U+FFFD for each byte
// that is not UTF-8.
void encodeMedia(Value& project, const std::string& media) {
    project["media"] = media;  // written with its bytes that are not UTF-8 replaced
    if (!isValidUtf8(media)) project["mediaBytes"] = base64Encode(dataFromText(media));
}

std::string decodeMedia(const Reader& reader) {
    const std::string media = readString(reader, "media");
    const auto bytes = reader.contains("mediaBytes") ? std::optional(readString(reader, "mediaBytes")) : std::nullopt;
    if (!bytes) return media;
    const auto path = base64Decode(*bytes);
    if (!path) json::fail("mediaBytes", "expected base64 data");
    return std::string(textFromData(*path));
}

Value encodeTiming(const EffectTiming& t) {
    return Value{{"start", encodeJson(t.startTime)},
                 {"duration", encodeJson(t.duration)},
                 {"frameDuration", encodeJson(t.frameDuration)},
                 {"fpsNumerator", t.timelineFpsNumerator},
                 {"fpsDenominator", t.timelineFpsDenominator}};
}

uint32_t decodeRate(const Reader& reader, std::string_view key) {
    const int64_t rate = reader.int64(key);
    if (rate < 0 || rate > std::numeric_limits<uint32_t>::max()) json::fail(key, "expected a frame rate");
    return uint32_t(rate);
}

EffectTiming decodeTiming(const Reader& reader) {
    EffectTiming t;
    t.startTime = decodeCMTime(reader.object("start"));
    t.duration = decodeCMTime(reader.object("duration"));
    t.frameDuration = decodeCMTime(reader.object("frameDuration"));
    t.timelineFpsNumerator = decodeRate(reader, "fpsNumerator");
    t.timelineFpsDenominator = decodeRate(reader, "fpsDenominator");
    return t;
}

// Platform objects: each an object with one member named by its class.

Value encodeObject(const FxValue& object) {
    switch (object.objectClass()) {
        case FxClass::NSNull: return Value{{"NSNull", nullptr}};
        case FxClass::NSNumber: {
            Value number;
            std::visit(
                [&](auto n) {
                    if constexpr (std::is_same_v<decltype(n), double>) {
                        number = json::finiteNumber(n, "NSNumber");
                    } else {
                        number = n;
                    }
                },
                object.number()->value);
            return Value{{"NSNumber", number}};
        }
        case FxClass::NSString: return Value{{"NSString", utf8Text(*object.string(), "NSString")}};
        case FxClass::NSData: return Value{{"NSData", base64Encode(*object.data())}};
        case FxClass::NSDictionary: {
            // The dictionary's keys are unique already: each entry is
            // appended, where looking its key up first (as the JSON object's
            // own insertion does) would take time in the square of the size.
            Value entries = Value::object();
            auto& members = entries.get_ref<Value::object_t&>();
            members.reserve(object.dictionary()->size());
            for (const auto& [key, entry] : *object.dictionary()) {
                utf8Text(key, "NSDictionary");
                members.emplace_back(key, encodeObject(entry));
            }
            return Value{{"NSDictionary", entries}};
        }
    }
    return Value{{"NSNull", nullptr}};
}

// `within` is the reader of the record that holds the value.
FxValue decodeObject(const Reader& within, const Document& value, std::string_view key, int depth) {
    if (!value.is_object() || value.size() != 1) json::fail(key, "expected an object of one class");
    if (depth > kDeepestValue) json::fail(key, "nested too deeply");
    const auto only = value.begin();
    const std::string& name = only.key();
    const Document& inner = only.value();
    if (name == "NSNull") return FxValue();
    if (name == "NSNumber") {
        if (inner.is_boolean()) return NSNumber::boolean(inner.get<bool>());
        if (Reader::isDecimalNumber(inner)) return NSNumber::real(Reader::number(inner, key));
        return NSNumber::integer(within.int64(inner, key));
    }
    if (name == "NSString") {
        if (!inner.is_string()) json::fail(key, "expected a string");
        return inner.get<std::string>();
    }
    if (name == "NSData") {
        const auto data = inner.is_string() ? base64Decode(inner.get_ref<const std::string&>()) : std::nullopt;
        if (!data) json::fail(key, "expected base64 data");
        return *data;
    }
    if (name == "NSDictionary") {
        if (!inner.is_object()) json::fail(key, "expected a dictionary");
        NSDictionary dictionary;
        for (const auto& [entryKey, entry] : inner.items()) {
            dictionary.emplace(entryKey, decodeObject(within, entry, key, depth + 1));
        }
        return dictionary;
    }
    json::fail(key, "names no class of object");
}

// Values

template <class T>
Value encodeCurve(Value parameter, const Curve<T>& curve) {
    parameter["value"] = curve.constant;
    Value keys = Value::array();
    for (const auto& [time, value] : curve.keys) keys.push_back(Value{{"time", encodeJson(time)}, {"value", value}});
    parameter["keys"] = keys;
    return parameter;
}

Value encodeParameter(const ParameterDefinition& definition, const ParameterDocument& document) {
    Value parameter{{"id", definition.id}, {"name", definition.name}, {"kind", kindName(definition.kind)}};
    switch (definition.kind) {
        case ParameterKind::percentSlider:
        case ParameterKind::floatSlider: {
            Curve<double> curve = document.floatCurve(definition.id).value_or(Curve<double>{});
            curve.constant = json::finiteNumber(curve.constant, "value");
            for (auto& [time, value] : curve.keys) value = json::finiteNumber(value, "value");
            return encodeCurve(std::move(parameter), curve);
        }
        case ParameterKind::toggle:
            return encodeCurve(std::move(parameter), document.boolCurve(definition.id).value_or(Curve<bool>{}));
        case ParameterKind::string:
            parameter["value"] = utf8Text(document.stringValue(definition.id).value_or(""), "value");
            return parameter;
        default: parameter["value"] = encodeObject(document.customValue(definition.id).value_or(FxValue())); return parameter;
    }
}

// One stored value, checked against the document, to be stored into it.
using Apply = std::function<void(ParameterDocument&)>;

template <class T, class Read>
Apply decodeCurve(const Reader& reader, uint32_t id, Read read,
                  bool (ParameterDocument::*setValue)(uint32_t, T),
                  bool (ParameterDocument::*setKey)(uint32_t, CMTime, T)) {
    const T constant = read(reader, "value");
    const auto keys = reader.array("keys", [&](const Reader& key) {
        return std::pair<CMTime, T>(decodeCMTime(key.object("time")), read(key, "value"));
    });
    return [=](ParameterDocument& document) {
        (document.*setValue)(id, constant);
        for (const auto& [time, value] : keys) (document.*setKey)(id, time, value);
    };
}

std::optional<Apply> decodeParameter(const Reader& reader, const ParameterDocument& document) {
    const int64_t storedId = reader.int64("id");
    if (storedId < 0 || storedId > std::numeric_limits<uint32_t>::max()) json::fail("id", "expected a parameter id");
    const uint32_t id = uint32_t(storedId);
    const Document& kindValue = reader.member("kind");
    const std::string kind = kindValue.is_string() ? kindValue.get<std::string>() : "";
    const auto definition = document.parameter(id);
    if (!definition) {
        NSLog("Project: passed over the value of parameter " + std::to_string(id) +
              ", which the effect does not have");
        return std::nullopt;
    }
    const char* expected = kindName(definition->kind);
    if (!expected || kind != expected) {
        json::fail("kind", "parameter " + std::to_string(id) + " is not a " + kind + " parameter");
    }
    auto readNumber = [](const Reader& r, std::string_view key) { return r.number(key); };
    auto readFlag = [](const Reader& r, std::string_view key) { return r.boolean(key); };
    switch (definition->kind) {
        case ParameterKind::percentSlider:
        case ParameterKind::floatSlider:
            return decodeCurve<double>(reader, id, readNumber, &ParameterDocument::setFloatValue,
                                       &ParameterDocument::setFloatKeyframe);
        case ParameterKind::toggle:
            return decodeCurve<bool>(reader, id, readFlag, &ParameterDocument::setBoolValue,
                                     &ParameterDocument::setBoolKeyframe);
        case ParameterKind::string:
            return [id, value = readString(reader, "value")](ParameterDocument& d) { d.setStringValue(id, value); };
        default: {
            const Document& stored = reader.member("value");
            return [id, value = decodeObject(reader, stored, "value", 0)](ParameterDocument& d) { d.setCustomValue(id, value); };
        }
    }
}

}  // namespace

Result<std::string> encodeProject(const ProjectHeader& header, const ParameterDocument& document) {
    try {
        Value parameters = Value::array();
        for (const ParameterDefinition& definition : document.parameters()) {
            if (kindName(definition.kind)) parameters.push_back(encodeParameter(definition, document));
        }
        Value project{{"format", kFormat}, {"version", kVersion}, {"effect", utf8Text(header.effectClass, "effect")}};
        encodeMedia(project, header.media);
        project["timing"] = encodeTiming(header.timing);
        project["parameters"] = parameters;
        // Only the media path may hold bytes that are not UTF-8 here; they
        // are written replaced, beside the path's bytes in base64.
        return project.dump(2, ' ', false, Value::error_handler_t::replace) + "\n";
    } catch (const JsonCodingError& e) {
        return Error{e.what()};
    }
}

Result<ProjectHeader> restoreProject(std::string_view text, std::string_view effectClass,
                                     ParameterDocument& document) {
    const auto project = json::parse(text);
    if (!project) return Error{"it is not JSON text"};
    std::vector<Apply> changes;
    ProjectHeader header;
    try {
        const Reader reader(*project, "project");
        const Document& format = reader.member("format");
        if (!format.is_string() || format.get<std::string>() != kFormat) return Error{"it is not a project file"};
        if (reader.int64("version") != kVersion) {
            return Error{"it is of version " + std::to_string(reader.int64("version")) + ", this program reads " +
                         std::to_string(kVersion)};
        }
        const Document& effect = reader.member("effect");
        if (!effect.is_string() || effect.get<std::string>() != effectClass) {
            return Error{"it is not a project of the effect " + std::string(effectClass)};
        }
        header.effectClass = std::string(effectClass);
        header.media = decodeMedia(reader);
        header.timing = decodeTiming(reader.object("timing"));
        for (auto& change : reader.array("parameters", [&](const Reader& p) { return decodeParameter(p, document); })) {
            if (change) changes.push_back(std::move(*change));
        }
    } catch (const JsonCodingError& e) {
        return Error{e.what()};
    }
    for (const Apply& change : changes) change(document);
    return header;
}

ProjectFile::ProjectFile(std::filesystem::path path, ProjectHeader header, ParameterDocument& document)
    : path_(std::move(path)), document_(document), header_(std::move(header)) {
    document_.setChangeObserver([this](uint32_t) { changed_ = true; });
}

ProjectFile::~ProjectFile() {
    if (writer_.joinable()) writer_.join();
    document_.setChangeObserver(nullptr);
}

Result<std::unique_ptr<ProjectFile>> ProjectFile::open(const std::filesystem::path& path,
                                                       std::string_view effectClass, ParameterDocument& document) {
    removeLeftoverTemporaries(path);
    auto text = readWholeFile(path, kLargestProject);
    if (!text) return Error{"Cannot open the project: " + text.error().message};
    auto header = restoreProject(*text, effectClass, document);
    if (!header) {
        return Error{"The project " + path.string() + " cannot be read (" + header.error().message +
                     "); it was left as it is."};
    }
    return std::unique_ptr<ProjectFile>(new ProjectFile(path, std::move(header).value(), document));
}

Result<std::unique_ptr<ProjectFile>> ProjectFile::create(const std::filesystem::path& path, ProjectHeader header,
                                                         ParameterDocument& document) {
    std::error_code code;
    if (std::filesystem::exists(path, code)) return Error{"The project " + path.string() + " exists already."};
    std::unique_ptr<ProjectFile> project(new ProjectFile(path, std::move(header), document));
    if (auto saved = project->save(); !saved) return saved.error();
    return project;
}

ProjectHeader ProjectFile::header() const {
    std::lock_guard guard(mutex_);
    return header_;
}

void ProjectFile::setHeader(ProjectHeader header) {
    std::lock_guard guard(mutex_);
    header_ = std::move(header);
    changed_ = true;
}

namespace {

Error saveFailure(const std::filesystem::path& path, const Error& error) {
    return Error{"Could not save the project " + path.string() + ": " + error.message};
}

}  // namespace

Result<std::string> ProjectFile::takeText() {
    changed_ = false;  // a change made from here on is saved next time
    auto text = encodeProject(header_, document_);
    if (!text) {
        changed_ = true;
        return saveFailure(path_, text.error());
    }
    return text;
}

Result<void> ProjectFile::save() {
    if (auto before = finishSaving(); !before) return before;
    std::lock_guard guard(mutex_);
    auto text = takeText();
    if (!text) return text.error();
    if (auto written = writeFileAtomically(path_, *text); !written) {
        changed_ = true;
        return saveFailure(path_, written.error());
    }
    return {};
}

Result<void> ProjectFile::saveChanges() {
    if (!changed_) return finishSaving();
    return save();
}

Result<void> ProjectFile::saveChangesInBackground() {
    // While a save is being written, changes wait for the next call.
    if (writing_) return {};
    if (auto before = finishSaving(); !before) return before;
    if (!changed_) return {};
    std::lock_guard guard(mutex_);
    auto text = takeText();
    if (!text) return text.error();
    writing_ = true;
    try {
        writer_ = std::thread([this, text = std::move(*text)] {
            written_ = writeFileAtomically(path_, text);
            writing_ = false;
        });
    } catch (const std::system_error&) {
        // No thread to be had: written here and now.
        written_ = writeFileAtomically(path_, *text);
        writing_ = false;
    }
    return {};
}

Result<void> ProjectFile::finishSaving() {
    if (writer_.joinable()) writer_.join();
    Result<void> written = std::exchange(written_, Result<void>{});
    if (written) return {};
    changed_ = true;
    return saveFailure(path_, written.error());
}

}  // namespace kv::host
