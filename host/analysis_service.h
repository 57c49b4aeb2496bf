#pragma once
// The host's analysis service for one effect instance. It reports the
// instance's analysis state (0 to 4) and accepts a start request unless it
// refuses or a run is already requested or going. A requested run is then
// driven by `runRequested`, as the host does once the button action has
// returned: the desired range, set-up, the clip's frames of the range in time
// order (see ClipSource::frames), and clean-up.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "host/clip_source.h"
#include "host/host_services.h"
#include "platform/foundation/result.h"
#include "platform/fxplug/fx_error.h"
#include "platform/fxplug/fx_plugin.h"

namespace kv::host {

struct AnalysisRunOptions {
    // The format of the surfaces the frames come in.
    OSType pixelFormat = kCVPixelFormatType_128RGBAFloat;
    // Stops feeding frames after this many, as when the user cancels.
    std::optional<int64_t> interruptAfterFrames;
    // Called after each frame the effect accepted, with the frames fed so far
    // and the run's frame count; answering false stops the run there, as
    // when the user cancels.
    std::function<bool(int64_t framesFed, int64_t frameCount)> afterFrame;
};

struct AnalysisRun {
    bool started = false;  // a run was requested and driven
    CMTimeRange desiredRange{kCMTimeInvalid, kCMTimeInvalid};
    std::vector<CMTime> frameTimes;  // every analyzeFrame call, in order
    int64_t absentFrames = 0;        // of those, the calls without a frame
    // Why the clip stopped giving frames (or could give none), if it did.
    std::optional<Error> sourceError;
    FxAnalysisState finalState = kFxAnalysisState_NotAnalyzing;
    std::optional<NSError> error;  // the first error an entry answered with
};

class AnalysisService final : public HostService, public FxAnalysisAPI_v2 {
public:
    using HostService::HostService;

    FxAnalysisState analysisStateForEffect() override;
    bool startForwardAnalysis(FxAnalysisLocation location, NSError* error) override;

    // Makes the service report `state`, also one outside 0...4.
    void setState(FxAnalysisState state);
    std::optional<FxAnalysisLocation> requestedLocation() const;

    // Drives the requested run over `clip`; does nothing when none is requested.
    AnalysisRun runRequested(FxAnalyzer& effect, const ClipSource& clip, const AnalysisRunOptions& options = {});

private:
    mutable std::mutex mutex_;
    FxAnalysisState state_ = kFxAnalysisState_NotAnalyzing;
    std::optional<FxAnalysisLocation> location_;
};

}  // namespace kv::host
