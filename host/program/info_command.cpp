#include <cmath>
#include <cstdio>

#include "host/program/analysis_summary.h"
#include "host/program/commands.h"
#include "host/program/host_session.h"
#include "host/program/slider_units.h"
#include "host/program/time_text.h"

namespace kv::host {
namespace {

std::string timingText(const EffectTiming& t) {
    const double start = CMTimeGetSeconds(t.startTime);
    const double duration = CMTimeGetSeconds(t.duration);
    const double frame = CMTimeGetSeconds(t.frameDuration);
    std::string text = secondsText(start) + " to " + secondsText(start + duration);
    if (t.timelineFpsDenominator > 0) {
        text += " at " + rateText(double(t.timelineFpsNumerator) / double(t.timelineFpsDenominator));
    }
    // The project file's times may be anything: the count is checked before it becomes one.
    const double frames = std::round(duration / frame);
    if (frame > 0 && frames >= 0 && frames < 9.2e18) text += " (" + std::to_string(int64_t(frames)) + " frames)";
    return text;
}

std::string objectText(const FxValue& value) {
    switch (value.objectClass()) {
        case FxClass::NSNull: return "null";
        case FxClass::NSNumber: return "a number";
        case FxClass::NSString: return "\"" + *value.string() + "\"";
        case FxClass::NSData: return std::to_string(value.data()->size()) + " bytes of data";
        case FxClass::NSDictionary: {
            std::string text = "{";
            for (const auto& [key, entry] : *value.dictionary()) {
                text += (text.size() > 1 ? ", " : "") + key + ": " + objectText(entry);
            }
            return text + "}";
        }
    }
    return "";
}

std::string parameterValueText(const ParameterDefinition& p, const ParameterDocument& document) {
    switch (p.kind) {
        case ParameterKind::percentSlider:
        case ParameterKind::floatSlider: {
            const auto curve = document.floatCurve(p.id);
            if (!curve) return "";
            if (!curve->keys.empty()) return std::to_string(curve->keys.size()) + " keys";
            return sliderText(p, curve->constant);
        }
        case ParameterKind::toggle: {
            const auto curve = document.boolCurve(p.id);
            if (!curve) return "";
            if (!curve->keys.empty()) return std::to_string(curve->keys.size()) + " keys";
            return curve->constant ? "true" : "false";
        }
        case ParameterKind::string: return "\"" + document.stringValue(p.id).value_or("") + "\"";
        case ParameterKind::custom: return objectText(document.customValue(p.id).value_or(FxValue()));
        case ParameterKind::pushButton: return "(button)";
        default: return "(group)";
    }
}

}  // namespace

int runCommand(const InfoCommand& command, const CommandContext& context) {
    auto opened = HostSession::open(command.project);
    if (!opened) return reportFailure(context, opened.error().message);
    HostSession& session = **opened;
    const ProjectHeader header = session.project().header();
    context.out << "Project:    " << session.project().path().string() << "\n"
                << "Media:      " << (header.media.empty() ? "none" : header.media) << "\n"
                << "Effect:     " << timingText(header.timing) << "\n"
                << summaryText(summarizeAnalysis(session.document()));
    if (command.parameters) {
        context.out << "\nParameters:\n";
        for (const ParameterDefinition& p : session.document().parameters()) {
            if (p.kind == ParameterKind::groupStart) continue;
            char id[16];
            std::snprintf(id, sizeof id, "%5u", p.id);
            context.out << id << "  " << p.name << " = " << parameterValueText(p, session.document()) << "\n";
        }
    }
    return 0;
}

int reportFailure(const CommandContext& context, std::string_view message) {
    context.err << kProgramName << ": " << message << "\n";
    return 1;
}

}  // namespace kv::host
