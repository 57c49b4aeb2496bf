#include "platform/fxplug/fx_value.h"

#include <gtest/gtest.h>

#include "platform/fxplug/fx_error.h"

namespace {

TEST(FxValueTest, EachKindAnswersOnlyAsItself) {
    const FxValue data(dataFromText("abc"));
    EXPECT_EQ(data.objectClass(), FxClass::NSData);
    ASSERT_TRUE(data.data());
    EXPECT_EQ(textFromData(*data.data()), "abc");
    EXPECT_FALSE(data.dictionary());
    EXPECT_FALSE(data.string());

    EXPECT_TRUE(FxValue().isNull());
    EXPECT_EQ(FxValue("x").objectClass(), FxClass::NSString);
    EXPECT_EQ(FxValue(NSNumber::integer(1)).objectClass(), FxClass::NSNumber);
    EXPECT_FALSE(FxValue(NSNumber::integer(1)).dictionary());
}

TEST(FxValueTest, DictionariesNestAndCompareByContent) {
    const NSDictionary inner{{"AnalysisHash", FxValue("not data")}};
    const FxValue a(NSDictionary{{"outer", FxValue(inner)}});
    const FxValue b(NSDictionary{{"outer", FxValue(inner)}});
    EXPECT_EQ(a, b);
    const NSDictionary* outer = a.dictionary();
    ASSERT_TRUE(outer);
    const FxValue& entry = outer->at("outer").dictionary()->at("AnalysisHash");
    EXPECT_FALSE(entry.data());  // an entry of the wrong kind is told apart
    EXPECT_NE(a, FxValue(NSDictionary{}));
    EXPECT_NE(FxValue(NSNumber::boolean(true)), FxValue(NSNumber::integer(1)));
    EXPECT_NE(FxValue(NSDictionary{}), FxValue());
}

TEST(FxErrorTest, ReportStoresOnlyWhereThereIsAPlaceAndAnswersNo) {
    EXPECT_FALSE(reportError(kv::Error{"Could not fetch FxParameterSettingAPI"}, nullptr));
    NSError error;
    EXPECT_FALSE(reportError(kv::Error{"Could not fetch FxParameterSettingAPI"}, &error));
    EXPECT_EQ(error.localizedDescription, "Could not fetch FxParameterSettingAPI");
    EXPECT_EQ(error.domain, kKestrelvantageErrorDomain);
}

}  // namespace
