#pragma once
// The records that hold the motion found in a clip, and their JSON form. The
// JSON of a MotionAnalysis is stored in the user's project, so its keys and
// decoding rules are a file format that later builds must keep reading.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/coremedia/cmtime.h"
#include "platform/coremedia/cmtime_coding.h"
#include "platform/foundation/json_coding.h"
#include "platform/foundation/result.h"

namespace kv {

// One box of motion, in fractions of the analysed image (x of its width from
// the first column, y of its height from the first row). `count` weighs it:
// the moved pixels merged into it; a box with count 0 holds no motion.
struct Bounds {
    double minX = 0;
    double minY = 0;
    double maxX = 0;
    double maxY = 0;
    int64_t count = 0;

    friend bool operator==(const Bounds&, const Bounds&) = default;
};

// The boxes found at one clip time.
struct MotionBounds {
    CMTime time;
    std::vector<Bounds> bounds;

    friend bool operator==(const MotionBounds&, const MotionBounds&) = default;
};

// The analysis of a clip: its samples in strictly increasing time order.
struct MotionAnalysis {
    CMTime firstFrameTime;
    CMTime lastFrameTime;
    CMTime frameDuration;
    int64_t imageWidth = 0;
    int64_t imageHeight = 0;
    std::vector<MotionBounds> motionBounds;

    friend bool operator==(const MotionAnalysis&, const MotionAnalysis&) = default;
};

// JSON coding. The encoders throw JsonCodingError on a value that is not
// finite; the decoders on any missing, null, mistyped or out-of-range member.
// Times are coded as platform/coremedia/cmtime_coding.h codes them.
json::Value encodeJson(const Bounds& bounds);
json::Value encodeJson(const std::vector<Bounds>& boxes);  // a JSON array, in list order
json::Value encodeJson(const MotionBounds& sample);
json::Value encodeJson(const MotionAnalysis& analysis);

Bounds decodeBounds(const json::Reader& reader);
MotionBounds decodeMotionBounds(const json::Reader& reader);
// The three times, which are not stored, come back as 0/1000, 0/1000 and 30/1000.
MotionAnalysis decodeMotionAnalysis(const json::Reader& reader);

// The stored form: UTF-8 JSON text.
Result<std::string> encodeMotionAnalysisText(const MotionAnalysis& analysis);
Result<MotionAnalysis> decodeMotionAnalysisText(std::string_view text);

}  // namespace kv
