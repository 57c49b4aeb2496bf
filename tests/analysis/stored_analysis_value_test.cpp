#include "analysis/stored_analysis_value.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// What each kind of stored value reads as, for the effect and the host alike.
TEST(StoredAnalysisValueTest, ReadsTheEntryOrSaysWhyThereIsNone) {
    const std::string json = R"({"iw":4,"ih":2,"mb":[]})";
    const std::pair<std::optional<FxValue>, StoredEntryFault> faults[] = {
        {std::nullopt, StoredEntryFault::noObject},
        {FxValue(dataFromText(json)), StoredEntryFault::notDictionary},
        {FxValue(NSDictionary{}), StoredEntryFault::noData},
        {FxValue(NSDictionary{{"FrameDuration", FxValue(dataFromText(json))}}), StoredEntryFault::noData},
        {FxValue(NSDictionary{{"AnalysisData", FxValue(json)}}), StoredEntryFault::noData},  // text, not data
    };
    for (const auto& [value, fault] : faults) {
        const auto read = readStoredAnalysisData(value);
        ASSERT_TRUE(std::holds_alternative<StoredEntryFault>(read));
        EXPECT_EQ(std::get<StoredEntryFault>(read), fault);
        EXPECT_EQ(readStoredAnalysisHash(value), std::nullopt);
    }

    const std::optional<FxValue> data = FxValue(NSDictionary{{"AnalysisData", FxValue(dataFromText(json))}});
    const auto read = readStoredAnalysisData(data);
    const auto& stored = std::get<StoredAnalysisData>(read);
    EXPECT_EQ(stored.json, json);
    ASSERT_TRUE(stored.analysis.ok());
    EXPECT_EQ(stored.analysis->imageWidth, 4);
    EXPECT_FALSE(std::get<StoredAnalysisData>(readStoredAnalysisData(
                     FxValue(NSDictionary{{"AnalysisData", FxValue(dataFromText("{"))}})))
                     .analysis.ok());

    const auto hashOf = [](std::string_view bytes) {
        return readStoredAnalysisHash(FxValue(NSDictionary{{"AnalysisHash", FxValue(dataFromText(bytes))}}));
    };
    EXPECT_EQ(hashOf("SHA256 digest: 00"), "SHA256 digest: 00");
    EXPECT_EQ(hashOf("\xff"), std::nullopt);  // not UTF-8
}

}  // namespace
}  // namespace kv
