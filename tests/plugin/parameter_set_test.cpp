#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "effect_test_support.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/log.h"
#include "stats/bundle_version.h"

namespace kv {
namespace {

using host::CreationCall;
using host::ParameterKind;
using K = ParameterKind;

constexpr int kTop = -1;

// The parameter set as the effect must offer it, in creation order.
struct Expected {
    ParameterKind kind;
    uint32_t id;
    const char* name;
    double value;  // slider default; toggles: 0 is NO
    double pmin, pmax, smin, smax, delta;
    uint32_t flags;
    int group;  // the group the row lies in; a group end: the group it closes
};

const std::vector<Expected> kExpected = {
    {K::groupStart, 102, "Video must be analyzed before any of the below settings can do anything useful.", 0, 0, 0, 0, 0, 0, 0, kTop},
    {K::pushButton, 10, "Analyze Clip", 0, 0, 0, 0, 0, 0, 0, 102},
    {K::groupEnd, 0, "", 0, 0, 0, 0, 0, 0, 0, 102},
    {K::custom, 4, "Analysis Data", 0, 0, 0, 0, 0, 0, 3, kTop},
    {K::custom, 5, "Analysis Hash", 0, 0, 0, 0, 0, 0, 3, kTop},
    {K::groupStart, 104, "Framing", 0, 0, 0, 0, 0, 0, 0, kTop},
    {K::percentSlider, 31, "Minimum scale", 1.0, 1.0, 10.0, 1.0, 4.0, 0.1, 0, 104},
    {K::percentSlider, 32, "Maximum scale", 3.0, 1.0, 10.0, 1.0, 4.0, 0.1, 0, 104},
    {K::floatSlider, 21, "Destination width", 1920, 0, 10000, 0, 10000, 0.01, 0, 104},
    {K::floatSlider, 22, "Destination height", 1080, 0, 10000, 0, 10000, 0.01, 0, 104},
    {K::floatSlider, 24, "Sensor Size", 36, 1, 100, 1, 100, 0.01, 0, 104},
    {K::floatSlider, 25, "Focal Length", 24, 8, 2000, 8, 2000, 0.01, 0, 104},
    {K::percentSlider, 34, "Framing: top", 0.3, 0, 1, 0, 1, 0.01, 0, 104},
    {K::percentSlider, 35, "Framing: bottom", 0.3, 0, 1, 0, 1, 0.01, 0, 104},
    {K::percentSlider, 36, "Framing: left", 0.15, 0, 1, 0, 1, 0.01, 0, 104},
    {K::percentSlider, 37, "Framing: right", 0.15, 0, 1, 0, 1, 0.01, 0, 104},
    {K::groupEnd, 0, "", 0, 0, 0, 0, 0, 0, 0, 104},
    {K::groupStart, 105, "Smoothing", 0, 0, 0, 0, 0, 0, 0, kTop},
    {K::floatSlider, 38, "Frame time", 2.0, 0, 10, 0, 10, 0.1, 0, 105},
    {K::floatSlider, 39, "Pan time", 4.0, 0, 10, 0, 10, 0.1, 0, 105},
    {K::floatSlider, 40, "Zoom time", 4.0, 0, 10, 0, 10, 0.1, 0, 105},
    {K::floatSlider, 41, "Ease-in time", 0.0, 0, 10, 0, 10, 0.1, 1, 105},
    {K::floatSlider, 42, "Ease-out time", 0.0, 0, 10, 0, 10, 0.1, 1, 105},
    {K::percentSlider, 43, "Minimum motion", 0.001, 0.001, 1, 0.001, 1, 0.001, 0, 105},
    {K::percentSlider, 44, "Maximum motion", 1.0, 0.001, 1, 0.001, 1, 0.001, 0, 105},
    {K::groupEnd, 0, "", 0, 0, 0, 0, 0, 0, 0, 105},
    {K::groupStart, 106, "Motion detection area", 0, 0, 0, 0, 0, 0, 0, kTop},
    {K::percentSlider, 81, "Motion-bound left", 0.02, 0, 1, 0, 1, 0.01, 0, 106},
    {K::percentSlider, 82, "Motion-bound top", 0.55, 0, 1, 0, 1, 0.01, 0, 106},
    {K::percentSlider, 83, "Motion-bound right", 0.98, 0, 1, 0, 1, 0.01, 0, 106},
    {K::percentSlider, 84, "Motion-bound bottom", 0.1, 0, 1, 0, 1, 0.01, 0, 106},
    {K::groupEnd, 0, "", 0, 0, 0, 0, 0, 0, 0, 106},
    {K::groupStart, 107, "Endpoints", 0, 0, 0, 0, 0, 0, 0, kTop},
    {K::floatSlider, 51, "Begin offset X", 0, 0, 0, -4096, 4096, 10, 257, 107},
    {K::floatSlider, 52, "Begin offset Y", 0, 0, 0, -4096, 4096, 10, 257, 107},
    {K::percentSlider, 53, "Begin scale", 1.0, 1.0, 10.0, 1.0, 4.0, 0.1, 1, 107},
    {K::floatSlider, 61, "End offset X", 0, 0, 0, -4096, 4096, 10, 257, 107},
    {K::floatSlider, 62, "End offset Y", 0, 0, 0, -4096, 4096, 10, 257, 107},
    {K::percentSlider, 63, "End scale", 1.0, 1.0, 10.0, 1.0, 4.0, 0.1, 1, 107},
    {K::groupEnd, 0, "", 0, 0, 0, 0, 0, 0, 0, 107},
    {K::groupStart, 109, "Color", 0, 0, 0, 0, 0, 0, 0, kTop},
    {K::percentSlider, 91, "Brightness", 1.0, 0, 10, 0, 10, 0.1, 0, 109},
    {K::groupEnd, 0, "", 0, 0, 0, 0, 0, 0, 0, 109},
    {K::groupStart, 110, "Toggle", 0, 0, 0, 0, 0, 0, 0, kTop},
    {K::toggle, 70, "Enable", 0, 0, 0, 0, 0, 0, 0, 110},
    {K::toggle, 71, "Exam mode", 0, 0, 0, 0, 0, 0, 0, 110},
    {K::toggle, 72, "Show bounds", 0, 0, 0, 0, 0, 0, 0, 110},
    {K::groupEnd, 0, "", 0, 0, 0, 0, 0, 0, 0, 110},
    {K::string, 13, "Plugin version", 0, 0, 0, 0, 0, 0, 21, kTop},
    {K::percentSlider, 77, "Framing: mix", 1.0, 0, 1, 0, 1, 0.001, 0, kTop},
};

// The log text of each refusable row, in creation order.
const std::vector<std::string> kRefusalTexts = {
    "Error adding analyze button", "Error adding analysis data parameter", "Error adding analysis hash parameter",
    "Error adding min scale", "Error adding max scale", "Error adding aspect ratio width",
    "Error adding aspect ratio height", "Error adding sensor size", "Error adding focal length",
    "Error adding padding top", "Error adding padding bottom", "Error adding padding left",
    "Error adding padding right", "Error adding ease time smooth", "Error adding ease time margin pan",
    "Error adding ease time margin zoom", "Error adding ease-in time", "Error adding ease-out time",
    "Error adding min motion", "Error adding max motion", "Error adding motion-box left",
    "Error adding motion-box top", "Error adding motion-box right", "Error adding motion-box bottom",
    "Error adding begin x", "Error adding begin y", "Error adding begin scale", "Error adding end x",
    "Error adding end y", "Error adding end scale", "Error adding brightness", "Error adding toggle enable",
    "Error adding toggle render mode", "Error adding toggle show bounds", "Error adding app version",
    "Error adding mix frame %",
};

host::DefaultValue expectedDefault(const Expected& row, const std::string& version) {
    switch (row.kind) {
        case K::percentSlider:
        case K::floatSlider: return row.value;
        case K::toggle: return row.value != 0;
        case K::custom: return FxValue(NSDictionary{});
        case K::string: return version;
        default: return std::monostate{};
    }
}

void expectTable(const std::vector<CreationCall>& calls, const std::string& version) {
    ASSERT_EQ(calls.size(), kExpected.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        const Expected& want = kExpected[i];
        const host::ParameterDefinition& got = calls[i].parameter;
        SCOPED_TRACE("row " + std::to_string(i) + " (" + want.name + ")");
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.flags, want.flags);
        EXPECT_EQ(got.defaultValue, expectedDefault(want, version));
        EXPECT_EQ(got.range, (host::SliderRange{want.pmin, want.pmax, want.smin, want.smax, want.delta}));
        EXPECT_EQ(got.group, want.group == kTop ? std::nullopt : std::optional<uint32_t>(uint32_t(want.group)));
        EXPECT_EQ(got.selector, want.kind == K::pushButton ? "startAnalysis" : "");
    }
}

TEST(ParameterSetTest, CreatesTheWholeTableInOrder) {
    ScopedMainBundleInfo bundle(NSBundle::InfoDictionary{{"CFBundleShortVersionString", std::string("7.3.1")}});
    LogCapture log;
    auto instance = test::loadEffect();
    NSError error{"untouched", 9, ""};
    EXPECT_TRUE(instance->effect()->addParametersWithError(&error));
    EXPECT_EQ(error.domain, "untouched");

    const auto calls = instance->document().creationCalls();
    expectTable(calls, "7.3.1");
    for (const CreationCall& call : calls) EXPECT_TRUE(call.accepted);
    EXPECT_EQ(log.count("Error adding"), 0u);
    EXPECT_EQ(instance->document().stringValue(13), "7.3.1");
}

TEST(ParameterSetTest, VersionIsQuestionMarkWithoutBundleInformation) {
    ScopedMainBundleInfo bundle(std::nullopt);
    auto instance = test::loadEffect();
    instance->effect()->addParametersWithError(nullptr);
    EXPECT_EQ(instance->document().stringValue(13), "?");
}

TEST(ParameterSetTest, RefusedRowIsLoggedOnceAndCreationGoesOn) {
    LogCapture log;
    auto instance = test::loadEffect();
    instance->creation().refuseParameter(31);
    EXPECT_TRUE(instance->effect()->addParametersWithError(nullptr));

    const auto calls = instance->document().creationCalls();
    expectTable(calls, bundleShortVersion());
    for (const CreationCall& call : calls) EXPECT_EQ(call.accepted, call.parameter.id != 31);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"Error adding min scale"});
    EXPECT_FALSE(instance->document().parameter(31));
    EXPECT_TRUE(instance->document().parameter(32));
}

TEST(ParameterSetTest, HostRefusingEverythingGetsEveryCallAndEveryRowIsLogged) {
    LogCapture log;
    auto instance = test::loadEffect();
    instance->creation().setRefusing(true);
    EXPECT_TRUE(instance->effect()->addParametersWithError(nullptr));
    EXPECT_EQ(instance->document().creationCalls().size(), kExpected.size());
    EXPECT_EQ(log.lines(), kRefusalTexts);
}

TEST(ParameterSetTest, WithoutCreationServiceNothingIsCreatedAndTheEffectGoesOn) {
    for (auto availability : {host::ServiceAvailability::withheld, host::ServiceAvailability::wrongKind}) {
        LogCapture log;
        auto instance = test::loadEffect();
        instance->apiManager().setAvailability(FxProtocol::FxParameterCreationAPI_v5, availability);
        NSError error;
        EXPECT_TRUE(instance->effect()->addParametersWithError(&error));
        EXPECT_TRUE(error.domain.empty());
        EXPECT_TRUE(instance->document().creationCalls().empty());
        EXPECT_EQ(log.count("Unable to retrieve parameter creation API"), 1u);
    }
    LogCapture log;
    auto instance = test::loadEffect();
    instance->releaseAPIManager();
    EXPECT_TRUE(instance->effect()->addParametersWithError(nullptr));
    EXPECT_EQ(log.count("Unable to retrieve parameter creation API"), 1u);
}

}  // namespace
}  // namespace kv
