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
