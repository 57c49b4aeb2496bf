#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis_test_support.h"

namespace kv {
namespace {

using host::HostCall;

MotionAnalysis sampleAnalysis(int64_t width) {
    MotionAnalysis analysis;
    analysis.imageWidth = width;
    analysis.imageHeight = 90;
    analysis.motionBounds = {{CMTimeMake(5, 30), {{0.1, 0.2, 0.3, 0.4, 12}}},
                             {CMTimeMake(10, 30), {{0.5, 0.5, 0.75, 0.8, 40}, {0.0, 0.0, 0.1, 0.1, 3}}}};
    return analysis;
}

std::string jsonOf(const MotionAnalysis& analysis) { return *encodeMotionAnalysisText(analysis); }

// The analysis as it reads back from its stored form.
MotionAnalysis decoded(const std::string& json) { return *decodeMotionAnalysisText(json); }

class StoredAnalysisTest : public test::AnalysisTest {
protected:
    // A run over `frames` frames of a moving square, saved at clean-up.
    void analyze(int64_t frames) {
        handInRun(frames);
        ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    }
};

TEST_F(StoredAnalysisTest, FirstSaveIsDecodedOnTheFirstReadAndCachedForTheNext) {
    analyze(10);
    const std::string hash = *storedHash();
    EXPECT_EQ(hash.size(), 79u);
    EXPECT_EQ(hash.substr(0, 15), "SHA256 digest: ");
    expectStoredHashNamesStoredData();

    instance->calls().clear();
    const auto first = plugin->readAnalysisData();
    EXPECT_EQ(dataReads(), 1u);  // nothing was cached by the save
    const auto second = plugin->readAnalysisData();
    EXPECT_EQ(dataReads(), 1u);
    ASSERT_TRUE(first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(*first, decoded(*storedData()));
    EXPECT_EQ(plugin->readAnalysisHash(), hash);
}

TEST_F(StoredAnalysisTest, NewSaveWritesTheHashFirstAndReplacesTheCachedAnalysis) {
    analyze(10);
    const std::string oldData = *storedData();
    const std::string oldHash = *storedHash();
    ASSERT_TRUE(plugin->readAnalysisData());

    handInRun(20);
    instance->calls().clear();
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    EXPECT_EQ(instance->calls().calls(),
              (std::vector<HostCall>{{"getCustomParameterValue", 5, CMTimeMake(0, 30)},
                                     {"setCustomParameterValue", 5, kCMTimeZero},
                                     {"setCustomParameterValue", 4, kCMTimeZero}}));
    EXPECT_NE(*storedHash(), oldHash);

    // The new analysis comes from the cache, as saved.
    instance->calls().clear();
    const auto current = plugin->readAnalysisData();
    EXPECT_EQ(dataReads(), 0u);
    ASSERT_TRUE(current);
    EXPECT_EQ(jsonOf(*current), *storedData());

    // The old one left the cache: stored again, it is decoded again.
    storeAnalysis(oldData, oldHash);
    const auto old = plugin->readAnalysisData();
    EXPECT_EQ(dataReads(), 1u);
    ASSERT_TRUE(old);
    EXPECT_EQ(jsonOf(*old), oldData);
}

TEST_F(StoredAnalysisTest, SavingTheSameAnalysisAgainKeepsItCached) {
    analyze(10);
    ASSERT_TRUE(plugin->readAnalysisData());
    const std::string hash = *storedHash();
    // A run over a range after the clip's samples, with no frames, leaves them as they are.
    ASSERT_TRUE(setUpRun(test::frameRange(300, 10)));
    ASSERT_TRUE(plugin->cleanupAnalysis(nullptr));
    EXPECT_EQ(*storedHash(), hash);
    instance->calls().clear();
    EXPECT_TRUE(plugin->readAnalysisData());
    EXPECT_EQ(dataReads(), 0u);
}

TEST_F(StoredAnalysisTest, HashThatDoesNotNameTheDataMissesTheCacheEveryTime) {
    const std::string json = jsonOf(sampleAnalysis(120));
    storeAnalysis(json, "SHA256 digest: 0000");
    EXPECT_EQ(plugin->readAnalysisData(), decoded(json));
    EXPECT_EQ(plugin->readAnalysisData(), decoded(json));
    EXPECT_EQ(dataReads(), 2u);

    // It was cached under the hash of its bytes all along.
    storeAnalysis(json, analysisHashText(json));
    EXPECT_EQ(plugin->readAnalysisData(), decoded(json));
    EXPECT_EQ(dataReads(), 2u);
}

TEST_F(StoredAnalysisTest, DataThatIsNoAnalysisIsLoggedAndGivesNone) {
    const struct {
        std::string bytes;
        std::string shown;
        std::string error;
    } cases[] = {
        {"not json", "not json", "The data is not valid JSON."},
        {"gr\xc3\xbc\xc3\x9f", "gr\xc3\xbc\xc3\x9f", "The data is not valid JSON."},
        {"\xff\xfe{", "N/A", "The data is not valid JSON."},
        {"\xed\xa0\x80", "N/A", "The data is not valid JSON."},  // a surrogate
        {"\xf0\x9f\x98", "N/A", "The data is not valid JSON."},  // cut short
        {R"({"iw":160,"ih":90})", R"({"iw":160,"ih":90})", ""},
    };
    for (const auto& c : cases) {
        store(param::analysisData, AnalysisKey::AnalysisData, dataFromText(c.bytes));
        LogCapture log;
        EXPECT_FALSE(plugin->readAnalysisData()) << c.shown;
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 2u) << c.shown;
        EXPECT_EQ(lines[0], "JSON: " + c.shown);
        EXPECT_EQ(lines[1].rfind("Error decoding JSON: " + c.error, 0), 0u) << lines[1];
    }
}

TEST_F(StoredAnalysisTest, MissingOrMistypedDataIsLoggedAndGivesNone) {
    const FxValue notData = FxValue(dataFromText(jsonOf(sampleAnalysis(120))));
    const struct {
        const char* name;
        std::function<void()> arrange;
        const char* line;
    } cases[] = {
        {"no service",
         [&] {
             instance->apiManager().setAvailability(FxProtocol::FxParameterRetrievalAPI_v6,
                                                    host::ServiceAvailability::wrongKind);
         },
         "Well, p is nil"},
        {"host refuses", [&] { instance->retrieval().setRefusing(true); }, "Well, p is nil"},
        {"not a dictionary", [&] { instance->document().setCustomValue(param::analysisData, notData); },
         "No JSON result"},
        {"no entry", [] {}, "No result key"},
        {"entry of the other key", [&] { store(param::analysisData, AnalysisKey::AnalysisHash, notData); },
         "No result key"},
        {"entry not data", [&] { store(param::analysisData, AnalysisKey::AnalysisData, FxValue("{}")); },
         "No result key"},
    };
    for (const auto& c : cases) {
        auto fresh = test::loadEffect();
        instance = std::move(fresh);
        plugin = dynamic_cast<KestrelvantagePlugIn*>(instance->analyzer());
        plugin->addParametersWithError(nullptr);
        c.arrange();
        LogCapture log;
        EXPECT_FALSE(plugin->readAnalysisData()) << c.name;
        EXPECT_EQ(log.lines(), std::vector<std::string>{c.line}) << c.name;
    }
}

TEST_F(StoredAnalysisTest, HashReaderGivesNoneSilently) {
    const std::string hash = analysisHashText("{}");
    const std::vector<FxValue> unusable = {
        FxValue(dataFromText(hash)),                                         // not a dictionary
        FxValue(NSDictionary{{"AnalysisHash", FxValue(hash)}}),               // a string, not data
        FxValue(NSDictionary{{"AnalysisData", FxValue(dataFromText(hash))}}),  // another key
        FxValue(NSDictionary{{"AnalysisHash", FxValue(NSData{0xc0, 0xaf})}}),  // not UTF-8
    };
    LogCapture log;
    for (const FxValue& value : unusable) {
        ASSERT_TRUE(instance->document().setCustomValue(param::analysisHash, value));
        EXPECT_FALSE(plugin->readAnalysisHash());
    }
    store(param::analysisHash, AnalysisKey::AnalysisHash, dataFromText(hash));
    EXPECT_EQ(plugin->readAnalysisHash(), hash);
    instance->releaseAPIManager();
    EXPECT_FALSE(plugin->readAnalysisHash());
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
}  // namespace kv
