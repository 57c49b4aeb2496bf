#include "analysis/frame_config.h"

namespace kv {

namespace {

struct FieldWriter {
    json::Value& out;
    void operator()(const char* key, bool v) const { out[key] = v; }
    void operator()(const char* key, int64_t v) const { out[key] = v; }
    void operator()(const char* key, double v) const { out[key] = json::finiteNumber(v, key); }
};

struct FieldReader {
    const json::Reader& in;
    void operator()(const char* key, bool& v) const { v = in.boolean(key); }
    void operator()(const char* key, int64_t& v) const { v = in.int64(key); }
    void operator()(const char* key, double& v) const { v = in.number(key); }
};

}  // namespace

FrameConfig startingFrameConfig() {
    FrameConfig c;
    c.enable = true;
    c.mixFrame = 1.0;
    c.minScale = 1.0;
    c.maxScale = 3.0;
    c.aspectRatioWidth = 1920.0;
    c.aspectRatioHeight = 1080.0;
    c.sensorSize = 36.0;
    c.focalLength = 24.0;
    c.paddingTop = 0.3;
    c.paddingBottom = 0.3;
    c.paddingLeft = 0.15;
    c.paddingRight = 0.15;
    c.motionBoxTop = 0.55;
    c.motionBoxBottom = 0.1;
    c.motionBoxLeft = 0.02;
    c.motionBoxRight = 0.98;
    c.minMovedPixels = 200;
    c.easeTimeSmooth = 2.0;
    c.easeTimeMarginPan = 4.0;
    c.easeTimeMarginZoom = 4.0;
    c.easeInTime = 0.0;
    c.easeOutTime = 0.0;
    c.minMotionArea = 0.001;
    c.maxMotionArea = 1.0;
    c.brightness = 1.0;
    return c;
}

CGRect motionBoxRect(const FrameConfig& config) {
    return CGRectMake(config.motionBoxLeft, config.motionBoxTop, config.motionBoxRight - config.motionBoxLeft,
                      config.motionBoxBottom - config.motionBoxTop);
}

json::Value encodeJson(const FrameConfig& config) {
    json::Value out = json::Value::object();
    forEachField(config, FieldWriter{out});
    return out;
}

FrameConfig decodeFrameConfig(const json::Reader& reader) {
    FrameConfig config;
    forEachField(config, FieldReader{reader});
    return config;
}

}  // namespace kv
