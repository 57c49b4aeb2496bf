#include "stats/stat_message.h"

#include <array>

#include "platform/foundation/bundle.h"
#include "platform/foundation/date.h"
#include "platform/foundation/json_encoder.h"
#include "platform/foundation/process_info.h"
#include "platform/foundation/utf8.h"
#include "stats/bundle_version.h"

namespace kv {
namespace {

// Which Feature each key of the usage record comes from, in key order.
struct UsageEntry {
    const char* key;
    std::optional<Message::Count> Message::UsageInfo::*count;
    Counter::Feature Counter::UsageCount::*feature;
};

using U = Message::UsageInfo;
using C = Counter::UsageCount;
constexpr std::array<UsageEntry, 12> kUsageEntries{{
    {"acnanz", &U::acnanz, &C::analyzeAction},
    {"frmanz", &U::frmanz, &C::analyzedFrames},
    {"frmren", &U::frmren, &C::renderedFrames},
    {"shwexm", &U::shwexm, &C::showExam},
    {"shwbnd", &U::shwbnd, &C::showBounds},
    {"ressrc", &U::ressrc, &C::sourceResolution},
    {"resdst", &U::resdst, &C::destinationResolution},
    {"resmap", &U::resmap, &C::bothResolutionMapping},
    {"resanz", &U::resanz, &C::analysisResolution},
    {"renscl", &U::renscl, &C::renderScale},
    {"fpstml", &U::fpstml, &C::timelineFps},
    {"fpsnat", &U::fpsnat, &C::nativeFps},
}};

// A Count of the Feature, kept only when it has data.
std::optional<Message::Count> countWithData(const Counter::Feature& feature) {
    Message::Count count = Message::Count::makeCount(feature);
    if (!count.hasData()) return std::nullopt;
    return count;
}

template <class T>
std::optional<T> unlessZero(T value) {
    return value == 0 ? std::nullopt : std::optional<T>(value);
}

}  // namespace

Message::Message() : t(millisecondsSince1970()) {}

void Message::AppInfo::fillAppInfo() {
    act = "FxPlug";
    pkg = NSBundle::mainBundle()->bundleIdentifier().value_or("?");
    ver = bundleShortVersion();
}

void Message::DeviceInfo::fillDeviceInfo() {
    typ = "computer";
    const std::string machine = unameMachine();
    mdl = isValidUtf8(machine) ? machine : "?";
    const LocalePieces locale = localePieces(NSLocale::currentLocale().localeIdentifier());
    if (!locale.region.empty()) rgn = locale.region;
    lng = locale.language;
    osn = "MacOS";
    osv = NSProcessInfo::processInfo().operatingSystemVersionString();
}

Message::Count Message::Count::makeCount(const Counter::Feature& feature) {
    Count count;
    count.c = unlessZero(feature.count);
    count.d = unlessZero(feature.duration);
    count.mn = feature.min;
    count.mx = feature.max;
    count.fmn = feature.fmn;
    count.fmx = feature.fmx;
    count.fi = feature.firstInt;
    count.li = feature.lastInt;
    count.ff = feature.firstFlt;
    count.lf = feature.lastFlt;
    count.ls = feature.lastStr;
    if (!feature.tried.empty()) count.en = feature.tried;
    return count;
}

bool Message::Count::hasData() const {
    return c || d || mn || mx || fmn || fmx || fi || li || ff || lf || ls || en;
}

Message::UsageInfo Message::UsageInfo::makeUsageInfo(const Counter::Locked& counter) {
    UsageInfo usage;
    for (const UsageEntry& entry : kUsageEntries) usage.*entry.count = countWithData(counter.usage.*entry.feature);
    return usage;
}

Message::PerformanceInfo Message::PerformanceInfo::makePerformanceInfo(const Counter::Locked& counter) {
    PerformanceInfo performance;
    performance.fpsanz = countWithData(counter.performance.analysisSpeedFps);
    performance.fpsren = countWithData(counter.performance.renderSpeedFps);
    return performance;
}

LocalePieces localePieces(std::string_view identifier) {
    std::vector<std::string_view> pieces;
    while (!identifier.empty()) {
        const size_t cut = identifier.find('_');
        const std::string_view piece = identifier.substr(0, cut);
        if (!piece.empty()) pieces.push_back(piece);
        if (cut == std::string_view::npos) break;
        identifier.remove_prefix(cut + 1);
    }
    LocalePieces result;
    if (!pieces.empty()) result.language = pieces[0];
    if (pieces.size() >= 2) result.region = pieces[1];
    return result;
}

json::Value encodeJson(const Message::AppInfo& app) {
    return json::ObjectBuilder().add("act", app.act).add("pkg", app.pkg).add("ver", app.ver).add("ins", app.ins).build();
}

json::Value encodeJson(const Message::DeviceInfo& dev) {
    return json::ObjectBuilder()
        .add("typ", dev.typ)
        .add("mfg", dev.mfg)
        .add("mdl", dev.mdl)
        .add("rgn", dev.rgn)
        .add("lng", dev.lng)
        .add("osn", dev.osn)
        .add("osv", dev.osv)
        .build();
}

json::Value encodeJson(const Message::Count& count) {
    return json::ObjectBuilder()
        .addIfPresent("c", count.c)
        .addIfPresent("d", count.d)
        .addIfPresent("mn", count.mn)
        .addIfPresent("mx", count.mx)
        .addIfPresent("fmn", count.fmn)
        .addIfPresent("fmx", count.fmx)
        .addIfPresent("fi", count.fi)
        .addIfPresent("li", count.li)
        .addIfPresent("ff", count.ff)
        .addIfPresent("lf", count.lf)
        .addIfPresent("ls", count.ls)
        .addIfPresent("en", count.en)
        .build();
}

json::Value encodeJson(const Message::UsageInfo& usage) {
    json::ObjectBuilder object;
    for (const UsageEntry& entry : kUsageEntries) {
        if (const auto& count = usage.*entry.count) object.add(entry.key, encodeJson(*count));
    }
    return object.build();
}

json::Value encodeJson(const Message::PerformanceInfo& performance) {
    json::ObjectBuilder object;
    if (performance.fpsanz) object.add("fpsanz", encodeJson(*performance.fpsanz));
    if (performance.fpsren) object.add("fpsren", encodeJson(*performance.fpsren));
    return object.build();
}

json::Value encodeJson(const Message::DebugInfo& debug) { return json::ObjectBuilder().addIfPresent("msg", debug.msg).build(); }

json::Value encodeJson(const Message& message) {
    json::ObjectBuilder object;
    object.add("t", message.t).add("tac", message.tac).add("evt", message.evt);
    if (message.app) object.add("app", encodeJson(*message.app));
    if (message.dev) object.add("dev", encodeJson(*message.dev));
    if (message.usg) object.add("usg", encodeJson(*message.usg));
    if (message.pfm) object.add("pfm", encodeJson(*message.pfm));
    if (message.dbg) object.add("dbg", encodeJson(*message.dbg));
    return object.build();
}

}  // namespace kv
