#include "host/parameter_document.h"

#include <gtest/gtest.h>

namespace kv::host {
namespace {

ParameterDefinition slider(uint32_t id, double value) {
    ParameterDefinition definition;
    definition.kind = ParameterKind::floatSlider;
    definition.id = id;
    definition.defaultValue = value;
    return definition;
}

ParameterDefinition of(ParameterKind kind, uint32_t id, DefaultValue value = {}) {
    ParameterDefinition definition;
    definition.kind = kind;
    definition.id = id;
    definition.defaultValue = std::move(value);
    return definition;
}

CMTime at(int64_t frames) { return CMTimeMake(frames, 30); }

TEST(ParameterDocumentTest, SlidersAreLinearBetweenKeysAndFlatOutside) {
    ParameterDocument document;
    ASSERT_TRUE(document.create(slider(1, 5.0), false));
    EXPECT_EQ(document.floatValue(1, at(7)), 5.0);
    document.setFloatKeyframe(1, at(30), 10.0);
    document.setFloatKeyframe(1, CMTimeMake(2, 1), 20.0);  // keys in another timescale still order by value
    EXPECT_EQ(document.floatValue(1, at(0)), 10.0);
    EXPECT_EQ(document.floatValue(1, at(45)), 15.0);
    EXPECT_EQ(document.floatValue(1, CMTimeMake(3000, 2000)), 15.0);
    EXPECT_EQ(document.floatValue(1, at(60)), 20.0);
    EXPECT_EQ(document.floatValue(1, at(900)), 20.0);
    document.setFloatValue(1, 3.0);  // a constant replaces every key
    EXPECT_EQ(document.floatValue(1, at(45)), 3.0);
    EXPECT_FALSE(document.setFloatKeyframe(1, kCMTimeInvalid, 1.0));
}

TEST(ParameterDocumentTest, TogglesHoldTheirValueUntilTheNextKey) {
    ParameterDocument document;
    document.create(of(ParameterKind::toggle, 70, false), false);
    document.setBoolKeyframe(70, at(10), true);
    document.setBoolKeyframe(70, at(20), false);
    EXPECT_EQ(document.boolValue(70, at(0)), true);
    EXPECT_EQ(document.boolValue(70, at(19)), true);
    EXPECT_EQ(document.boolValue(70, at(20)), false);
}

TEST(ParameterDocumentTest, ValuesAreReadOnlyAsTheirParameterKind) {
    ParameterDocument document;
    document.create(of(ParameterKind::custom, 4, FxValue(NSDictionary{})), false);
    document.create(of(ParameterKind::string, 13, std::string("1.0")), false);
    EXPECT_EQ(document.customValue(4), FxValue(NSDictionary{}));
    EXPECT_FALSE(document.floatValue(4, at(0)));
    EXPECT_FALSE(document.setFloatValue(13, 1.0));
    EXPECT_FALSE(document.customValue(99));
    EXPECT_TRUE(document.setStringValue(13, "2.0"));
    EXPECT_EQ(document.stringValue(13), "2.0");
    EXPECT_TRUE(document.setCustomValue(4, FxValue("anything")));
    EXPECT_EQ(document.customValue(4), FxValue("anything"));
}

TEST(ParameterDocumentTest, GroupsNestAndEveryCallIsRecorded) {
    ParameterDocument document;
    EXPECT_FALSE(document.create(of(ParameterKind::groupEnd, 0), false));  // nothing to close
    document.create(of(ParameterKind::groupStart, 104), false);
    document.create(of(ParameterKind::groupStart, 105), false);
    document.create(slider(31, 1.0), false);
    EXPECT_FALSE(document.create(slider(31, 2.0), false));  // id taken
    EXPECT_FALSE(document.create(slider(32, 2.0), true));   // refused
    document.create(of(ParameterKind::groupEnd, 0), false);
    document.create(slider(33, 1.0), false);
    document.create(of(ParameterKind::groupEnd, 0), false);
    document.create(slider(34, 1.0), false);

    EXPECT_EQ(document.parameter(31)->group, 105u);
    EXPECT_EQ(document.parameter(33)->group, 104u);
    EXPECT_EQ(document.parameter(34)->group, std::nullopt);
    EXPECT_FALSE(document.parameter(32));
    EXPECT_EQ(document.floatValue(31, at(0)), 1.0);

    const auto calls = document.creationCalls();
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_FALSE(calls[4].accepted);
    EXPECT_EQ(calls[5].parameter.id, 32u);
    EXPECT_EQ(calls[6].parameter.group, 105u);  // the end names the group it closes
    EXPECT_EQ(document.parameters().size(), 5u);
}

TEST(ParameterDocumentTest, RefusedGroupStartLeavesItsParametersInTheEnclosingGroup) {
    ParameterDocument document;
    document.create(of(ParameterKind::groupStart, 1), false);
    EXPECT_FALSE(document.create(of(ParameterKind::groupStart, 2), true));
    document.create(slider(31, 1.0), false);
    EXPECT_FALSE(document.create(of(ParameterKind::groupEnd, 0), false));  // closes the refused start
    document.create(slider(32, 1.0), false);
    EXPECT_TRUE(document.create(of(ParameterKind::groupEnd, 0), false));
    document.create(slider(33, 1.0), false);

    EXPECT_EQ(document.parameter(31)->group, 1u);
    EXPECT_EQ(document.parameter(32)->group, 1u);
    EXPECT_EQ(document.parameter(33)->group, std::nullopt);
}

}  // namespace
}  // namespace kv::host
