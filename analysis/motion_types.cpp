#include "analysis/motion_types.h"

namespace kv {

json::Value encodeJson(const Bounds& bounds) {
    return json::Value{{"minX", json::finiteNumber(bounds.minX, "minX")},
                       {"minY", json::finiteNumber(bounds.minY, "minY")},
                       {"maxX", json::finiteNumber(bounds.maxX, "maxX")},
                       {"maxY", json::finiteNumber(bounds.maxY, "maxY")},
                       {"count", bounds.count}};
}

json::Value encodeJson(const std::vector<Bounds>& boxes) {
    json::Value array = json::Value::array();
    for (const Bounds& b : boxes) array.push_back(encodeJson(b));
    return array;
}

json::Value encodeJson(const MotionBounds& sample) {
    return json::Value{{"t", encodeJson(sample.time)}, {"b", encodeJson(sample.bounds)}};
}

json::Value encodeJson(const MotionAnalysis& analysis) {
    json::Value samples = json::Value::array();
    for (const MotionBounds& s : analysis.motionBounds) samples.push_back(encodeJson(s));
    return json::Value{{"iw", analysis.imageWidth}, {"ih", analysis.imageHeight}, {"mb", std::move(samples)}};
}

Bounds decodeBounds(const json::Reader& reader) {
    // Braced initialisation evaluates in order: members are read in table order.
    return Bounds{reader.number("minX"), reader.number("minY"), reader.number("maxX"), reader.number("maxY"),
                  reader.int64("count")};
}

MotionBounds decodeMotionBounds(const json::Reader& reader) {
    CMTime time = decodeCMTime(reader.object("t"));
    return MotionBounds{time, reader.array("b", decodeBounds)};
}

MotionAnalysis decodeMotionAnalysis(const json::Reader& reader) {
    MotionAnalysis analysis;
    analysis.firstFrameTime = CMTimeMake(0, 1000);
    analysis.lastFrameTime = CMTimeMake(0, 1000);
    analysis.frameDuration = CMTimeMake(30, 1000);
    analysis.imageWidth = reader.int64("iw");
    analysis.imageHeight = reader.int64("ih");
    analysis.motionBounds = reader.array("mb", decodeMotionBounds);
    return analysis;
}

Result<std::string> encodeMotionAnalysisText(const MotionAnalysis& analysis) {
    return json::encodeText(analysis, [](const MotionAnalysis& a) { return encodeJson(a); });
}

Result<MotionAnalysis> decodeMotionAnalysisText(std::string_view text) {
    return json::decodeText(text, decodeMotionAnalysis);
}

}  // namespace kv
