#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "analysis_test_support.h"

namespace kv {
namespace {

// Forwards the effect's writes to the host, noting first the hash of every
// analysis written and every hash text written.
class RecordingSettingService final : public FxParameterSettingAPI_v5 {
public:
    explicit RecordingSettingService(FxParameterSettingAPI_v5& host) : host_(host) {}

    bool setCustomParameterValue(const FxValue& value, uint32_t parameterID, CMTime time) override {
        const NSDictionary& entry = *value.dictionary();
        {
            std::lock_guard guard(mutex_);
            if (parameterID == param::analysisData) {
                dataHashes_.insert(analysisHashText(textFromData(*entry.at("AnalysisData").data())));
            } else {
                hashTexts_.insert(std::string(textFromData(*entry.at("AnalysisHash").data())));
            }
        }
        return host_.setCustomParameterValue(value, parameterID, time);
    }

    std::set<std::string> dataHashes() const {
        std::lock_guard guard(mutex_);
        return dataHashes_;
    }
    std::set<std::string> hashTexts() const {
        std::lock_guard guard(mutex_);
        return hashTexts_;
    }

private:
    FxParameterSettingAPI_v5& host_;
    mutable std::mutex mutex_;
    std::set<std::string> dataHashes_;
    std::set<std::string> hashTexts_;
};

using StoredAnalysisConcurrencyTest = test::AnalysisTest;

TEST_F(StoredAnalysisConcurrencyTest, ReadersDuringARunOnlySeeAnalysesSavedWhole) {
    const auto recorder = std::make_shared<RecordingSettingService>(instance->customSetting());
    instance->apiManager().provide(FxProtocol::FxParameterSettingAPI_v5, recorder);
    LogCapture quiet;  // readers log while nothing is stored yet

    struct Reads {
        std::vector<std::string> analysisHashes;  // of each analysis read, re-encoded
        std::vector<std::string> hashTexts;
    };
    std::atomic<bool> done{false};
    std::vector<Reads> reads(2);
    std::vector<std::thread> readers;
    for (Reads& mine : reads) {
        readers.emplace_back([&, &mine = mine] {
            bool last = false;
            while (!last) {
                last = done;
                if (const auto analysis = plugin->readAnalysisData()) {
                    mine.analysisHashes.push_back(analysisHashText(*encodeMotionAnalysisText(*analysis)));
                }
                if (auto hash = plugin->readAnalysisHash()) mine.hashTexts.push_back(std::move(*hash));
            }
        });
    }

    const test::MovingSquareClip clip(160, 120, 90);
    const host::AnalysisRun run = runWholeClip(clip);
    done = true;
    for (auto& reader : readers) reader.join();
    ASSERT_FALSE(run.error);

    const auto saved = recorder->dataHashes();
    const auto hashTexts = recorder->hashTexts();
    EXPECT_EQ(saved.size(), 3u);  // the last partial save and the final one hold the same analysis
    for (const Reads& mine : reads) {
        for (const auto& hash : mine.analysisHashes) EXPECT_TRUE(saved.count(hash)) << hash;
        for (const auto& hash : mine.hashTexts) EXPECT_TRUE(hashTexts.count(hash)) << hash;
        // The reads after the run see its final analysis.
        ASSERT_FALSE(mine.analysisHashes.empty());
        EXPECT_EQ(mine.analysisHashes.back(), *storedHash());
    }
}

}  // namespace
}  // namespace kv
