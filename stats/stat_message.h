#pragma once
// The statistics message: when it was made, which program and installation
// sent it, on what machine, and what one Counter held since its last
// successful send. Its JSON form leaves out every field that is absent.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/json_coding.h"
#include "stats/usage_counter.h"

namespace kv {

struct Message {
    struct AppInfo {
        std::string act;
        std::string pkg;
        std::string ver;
        uint64_t ins = 0;

        // The program: its kind, bundle identifier and short version. Leaves `ins` alone.
        void fillAppInfo();
    };

    struct DeviceInfo {
        std::string typ;
        std::string mfg = "Apple";
        std::string mdl;
        std::string rgn;
        std::string lng;
        std::string osn;
        std::string osv;

        // The machine: its kind, model, locale and system. Leaves `mfg` alone.
        void fillDeviceInfo();
    };

    // The JSON form of one Counter::Feature: each field set only when the
    // Feature holds something there.
    struct Count {
        std::optional<int64_t> c;
        std::optional<uint64_t> d;
        std::optional<int64_t> mn;
        std::optional<int64_t> mx;
        std::optional<float> fmn;
        std::optional<float> fmx;
        std::optional<int64_t> fi;
        std::optional<int64_t> li;
        std::optional<float> ff;
        std::optional<float> lf;
        std::optional<std::string> ls;
        std::optional<std::map<std::string, int64_t, std::less<>>> en;

        static Count makeCount(const Counter::Feature& feature);
        bool hasData() const;
    };

    struct UsageInfo {
        std::optional<Count> acnanz;
        std::optional<Count> frmanz;
        std::optional<Count> frmren;
        std::optional<Count> shwexm;
        std::optional<Count> shwbnd;
        std::optional<Count> ressrc;
        std::optional<Count> resdst;
        std::optional<Count> resmap;
        std::optional<Count> resanz;
        std::optional<Count> renscl;
        std::optional<Count> fpstml;
        std::optional<Count> fpsnat;

        // A Count for each Feature of `usage` that has data. Reading the
        // counter needs its lock, which `counter` holds.
        static UsageInfo makeUsageInfo(const Counter::Locked& counter);
    };

    struct PerformanceInfo {
        std::optional<Count> fpsanz;
        std::optional<Count> fpsren;

        static PerformanceInfo makePerformanceInfo(const Counter::Locked& counter);
    };

    struct DebugInfo {
        std::optional<std::vector<std::string>> msg;
    };

    // Made now: `t` is the current time in milliseconds since 1970, `tac`
    // 0, `evt` empty, every record absent.
    Message();

    uint64_t t = 0;
    uint64_t tac = 0;
    std::string evt;
    std::optional<AppInfo> app;
    std::optional<DeviceInfo> dev;
    std::optional<UsageInfo> usg;
    std::optional<PerformanceInfo> pfm;
    std::optional<DebugInfo> dbg;
};

// The two pieces of a locale identifier that the message carries: the
// language is the first piece between underscores, the region the second
// (for "zh_Hans_CN" that is the script, "Hans"); empty when missing.
struct LocalePieces {
    std::string language;
    std::string region;
};
LocalePieces localePieces(std::string_view identifier);

// JSON coding. Each throws JsonCodingError when a float is not finite.
json::Value encodeJson(const Message::AppInfo& app);
json::Value encodeJson(const Message::DeviceInfo& dev);
json::Value encodeJson(const Message::Count& count);
json::Value encodeJson(const Message::UsageInfo& usage);
json::Value encodeJson(const Message::PerformanceInfo& performance);
json::Value encodeJson(const Message::DebugInfo& debug);
json::Value encodeJson(const Message& message);

}  // namespace kv
