#pragma once
// The motion detector of one effect instance. During an analysis it is handed
// every frame in time order, copies the two frames around every fifth one into
// a two-slot ring, compares each such pair, groups the motion found into boxes
// and keeps the samples, sorted by time, in `result`.
//
// Not safe for concurrent use: the effect serialises its calls.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "analysis/motion_types.h"
#include "platform/coremedia/cmtime.h"

namespace kv {

class MotionDetectContext {
public:
    MotionDetectContext();

    int64_t imageWidth = 0;   // size of the frames in the ring
    int64_t imageHeight = 0;
    int64_t frameSel = 0;     // the ring slot the next copied frame goes to
    int64_t nElems = 0;       // floats per frame buffer: width × height × 4
    static constexpr int64_t nFrames = 2;
    int64_t nextAnalyzedFrameNum = 0;  // frames handed in since the last cleanup()
    int64_t analyzeEvery = 5;          // spacing of the analysed frame pairs
    int64_t nextResultIndex = 0;       // where the next position search starts
    CMTime currentTime;                // time of the frame last handed in
    MotionAnalysis result;
    static constexpr double motionGroupDistanceThreshold = 0.05;

    // Sets the first and last frame times to the range, widened to the
    // stored samples that lie outside it.
    void prepareAnalysis(CMTimeRange timeRange);

    // Makes sure the ring holds buffers for frames of this size; buffers are
    // kept when width × height is unchanged. False, with the ring released
    // and a log line, for a size that cannot be held.
    bool allocateFrames(int64_t width, int64_t height);

    // Compares the last two copied frames and groups what moved.
    MotionBounds detectMotion();

    // Detects motion in the last pair and stores, replaces or removes the
    // sample at the current time. A pair that is not two frames of the
    // current size is skipped with a log line.
    void analyzeFrames();

    // Hands in the next frame: `height` rows of `width` RGBA float pixels,
    // each row starting `bytesPerRow` bytes after the one before (0: packed).
    void addFrame(CMTime time, int64_t width, int64_t height, const float* pixels, size_t bytesPerRow = 0);

    // Frees the ring and forgets the frame count and the samples.
    void cleanup();

    bool hasFrames() const { return frames_.has_value(); }

private:
    struct Slot {
        std::unique_ptr<float[]> pixels;
        // Size of the frame copied into the slot; 0 × 0 while it holds none.
        int64_t width = 0;
        int64_t height = 0;
    };

    void copyIntoRing(int64_t width, int64_t height, const float* pixels, size_t bytesPerRow);
    // The slot k places before the next one to fill: 1 is the frame copied last.
    Slot& slotBefore(int64_t k);
    static size_t ringIndex(int64_t i);
    bool pairIsComparable();
    // The slots keep their buffers but count as holding no frame.
    void forgetCopiedFrames();
    void releaseFrames();
    static bool isUsableFrameSize(int64_t width, int64_t height);

    std::optional<std::array<Slot, nFrames>> frames_;
};

// True when the samples are in strictly increasing order of time.
bool isSane(const MotionAnalysis& analysis);

// Drops the samples with from ≤ time < to.
void removeResults(MotionAnalysis& analysis, CMTime from, CMTime to);

}  // namespace kv
