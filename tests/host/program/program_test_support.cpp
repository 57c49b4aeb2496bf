#include "tests/host/program/program_test_support.h"

#include <sstream>

#include "host/program/host_session.h"
#include "host/program/program.h"
#include "platform/cryptokit/sha256.h"

namespace kv::testing {

ProgramResult runInProcess(const std::vector<std::string>& arguments) {
    std::ostringstream out;
    std::ostringstream err;
    ProgramResult result;
    result.status = host::runProgram(arguments, {out, err, false});
    result.out = out.str();
    result.err = err.str();
    return result;
}

void createProject(const std::filesystem::path& path) {
    const host::ProjectHeader header{host::kEffectClassName, "", {}};
    auto session = host::HostSession::openToWrite(path, "test", &header);
    ASSERT_TRUE(session.ok()) << session.error().message;
}

std::optional<StoredAnalysis> storedAnalysis(const std::filesystem::path& project) {
    auto session = host::HostSession::open(project);
    if (!session) {
        ADD_FAILURE() << session.error().message;
        return std::nullopt;
    }
    const host::ParameterDocument& document = (*session)->document();
    const auto data = document.customValue(4);
    const auto hash = document.customValue(5);
    if (!data || !hash || !data->dictionary() || !hash->dictionary()) return std::nullopt;
    const auto dataEntry = data->dictionary()->find("AnalysisData");
    const auto hashEntry = hash->dictionary()->find("AnalysisHash");
    if (dataEntry == data->dictionary()->end() || !dataEntry->second.data()) return std::nullopt;
    const std::string_view text = textFromData(*dataEntry->second.data());
    auto analysis = decodeMotionAnalysisText(text);
    if (!analysis) {
        ADD_FAILURE() << "the stored analysis does not decode: " << analysis.error().message;
        return std::nullopt;
    }
    StoredAnalysis stored{std::move(analysis).value(), false};
    stored.hashMatches = hashEntry != hash->dictionary()->end() && hashEntry->second.data() &&
                         textFromData(*hashEntry->second.data()) == SHA256::hash(text).description();
    return stored;
}

std::string reasonEffectCannotAnalyze() {
    static const std::string reason = [] {
        ScratchDirectory scratch;
        const ProgramResult probe = runInProcess(
            {"analyze", "--synthetic", "--duration", "0.2", "-p", scratch.file("probe.json").string()});
        return probe.status == 0 ? std::string() : probe.err;
    }();
    return reason;
}

}  // namespace kv::testing
