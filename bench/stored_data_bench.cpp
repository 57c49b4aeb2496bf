// Decoding stored data as it grows: a stored analysis with many keys that
// no record knows (which decoding ignores), one with many samples, a host
// project with many unknown keys, and a project whose custom parameter holds
// a large dictionary, read and written again as every command that sets a
// value does. Each time per byte should stay flat
// from 10k to 160k members (the fitted complexity is O(N)); a decoder that
// searched an object's members on every insert grew with the square.
#include <benchmark/benchmark.h>

#include <string>

#include "analysis/motion_types.h"
#include "host/project_file.h"
#include "platform/foundation/log.h"

namespace {

// {"iw":8,"ih":6,"mb":[], "k0":0, "k1":1, ...}
std::string analysisWithUnknownKeys(int64_t keys) {
    std::string text = R"({"iw":8,"ih":6,"mb":[])";
    for (int64_t k = 0; k < keys; ++k) text += ",\"k" + std::to_string(k) + "\":" + std::to_string(k);
    return text + "}";
}

std::string analysisWithSamples(int64_t samples) {
    std::string text = R"({"iw":1920,"ih":1080,"mb":[)";
    for (int64_t s = 0; s < samples; ++s) {
        if (s) text += ",";
        text += R"({"t":{"tv":)" + std::to_string(5 * s) +
                R"(,"ts":30},"b":[{"minX":0.171875,"minY":0.5,"maxX":0.453125,"maxY":0.8541666865348816,"count":17607}]})";
    }
    return text + "]}";
}

constexpr const char* kProjectHead =
    R"({"format":"Kestrelvantage host project","version":1,"effect":"E","media":"",)"
    R"("timing":{"start":{"tv":0,"ts":30},"duration":{"tv":90,"ts":30},)"
    R"("frameDuration":{"tv":1,"ts":30},"fpsNumerator":30,"fpsDenominator":1},)";

std::string projectWithUnknownKeys(int64_t keys) {
    std::string text = std::string(kProjectHead) + R"("parameters":[])";
    for (int64_t k = 0; k < keys; ++k) text += ",\"k" + std::to_string(k) + "\":" + std::to_string(k);
    return text + "}";
}

// Custom parameter 4 holding {"k0": 0, "k1": 1, ...}.
std::string projectWithDictionary(int64_t entries) {
    std::string text = std::string(kProjectHead) +
                       R"("parameters":[{"id":4,"name":"D","kind":"custom","value":{"NSDictionary":{)";
    for (int64_t k = 0; k < entries; ++k) {
        if (k) text += ",";
        text += "\"k" + std::to_string(k) + "\":{\"NSNumber\":" + std::to_string(k) + "}";
    }
    return text + "}}}]}";
}

template <class Decode>
void measure(benchmark::State& state, const std::string& text, Decode decode) {
    for (auto _ : state) {
        auto decoded = decode(text);
        if (!decoded) state.SkipWithError(decoded.error().message.c_str());
        benchmark::DoNotOptimize(decoded);
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_DecodeAnalysisWithUnknownKeys(benchmark::State& state) {
    measure(state, analysisWithUnknownKeys(state.range(0)), kv::decodeMotionAnalysisText);
}

void BM_DecodeAnalysisWithSamples(benchmark::State& state) {
    measure(state, analysisWithSamples(state.range(0)), kv::decodeMotionAnalysisText);
}

void BM_RestoreProjectWithUnknownKeys(benchmark::State& state) {
    measure(state, projectWithUnknownKeys(state.range(0)), [](const std::string& text) {
        kv::host::ParameterDocument document;
        return kv::host::restoreProject(text, "E", document);
    });
}

void BM_RestoreAndSaveProjectWithDictionary(benchmark::State& state) {
    measure(state, projectWithDictionary(state.range(0)), [](const std::string& text) {
        kv::host::ParameterDocument document;
        kv::host::ParameterDefinition dictionary;
        dictionary.kind = kv::host::ParameterKind::custom;
        dictionary.id = 4;
        document.create(dictionary, false);
        auto header = kv::host::restoreProject(text, "E", document);
        return header ? kv::host::encodeProject(*header, document) : kv::Result<std::string>(header.error());
    });
}

}  // namespace

BENCHMARK(BM_DecodeAnalysisWithUnknownKeys)->RangeMultiplier(4)->Range(10000, 160000)->Complexity();
BENCHMARK(BM_DecodeAnalysisWithSamples)->RangeMultiplier(4)->Range(10000, 160000)->Complexity();
BENCHMARK(BM_RestoreProjectWithUnknownKeys)->RangeMultiplier(4)->Range(10000, 160000)->Complexity();
// Up to the 100,000 entries a `set` once took seconds over.
BENCHMARK(BM_RestoreAndSaveProjectWithDictionary)->Arg(12500)->Arg(25000)->Arg(50000)->Arg(100000)->Complexity();

BENCHMARK_MAIN();
