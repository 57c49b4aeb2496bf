#include "analysis/motion_detect_context.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "analysis/bounds_geometry.h"
#include "analysis/frame_difference.h"
#include "platform/coremedia/cmtime_coding.h"
#include "platform/dispatch/dispatch.h"
#include "platform/foundation/log.h"

namespace kv {

namespace {

bool isBefore(CMTime a, CMTime b) { return CMTimeCompare(a, b) < 0; }
bool isSameTime(CMTime a, CMTime b) { return CMTimeCompare(a, b) == 0; }

// Releases a differencing result however the scope is left.
struct OffsetTiles {
    MotionOffsetTile* tiles;
    ~OffsetTiles() { LowLevel_ReleaseMotionOffsetTile(tiles); }
};

}  // namespace

MotionDetectContext::MotionDetectContext() : currentTime(CMTimeMake(0, 1000)) {
    result.firstFrameTime = CMTimeMake(0, 1000);
    result.lastFrameTime = CMTimeMake(0, 1000);
    result.frameDuration = CMTimeMake(30, 1000);
}

void MotionDetectContext::prepareAnalysis(CMTimeRange timeRange) {
    result.firstFrameTime = timeRange.start;
    result.lastFrameTime = CMTimeAdd(timeRange.start, timeRange.duration);
    if (result.motionBounds.empty()) return;
    const CMTime first = result.motionBounds.front().time;
    const CMTime last = result.motionBounds.back().time;
    if (isBefore(first, result.firstFrameTime)) result.firstFrameTime = first;
    if (isBefore(result.lastFrameTime, last)) result.lastFrameTime = last;
}

bool MotionDetectContext::allocateFrames(int64_t width, int64_t height) {
    if (!isUsableFrameSize(width, height)) {
        releaseFrames();
        NSLog("allocateFrames(): Unusable frame size " + std::to_string(width) + "x" + std::to_string(height));
        return false;
    }
    const int64_t n = width * height * 4;
    if (n != nElems) {
        nElems = n;
        frames_.reset();
    }
    if (!frames_) {
        try {
            frames_ = std::array<Slot, nFrames>{};
            // Not cleared: a slot is read only after a frame was copied into it.
            for (Slot& slot : *frames_) slot.pixels.reset(new float[static_cast<size_t>(nElems)]);
        } catch (const std::bad_alloc&) {
            releaseFrames();
            NSLog("allocateFrames(): Out of memory for frames of size " + std::to_string(width) + "x" +
                  std::to_string(height));
            return false;
        }
    }
    result.imageWidth = width;
    result.imageHeight = height;
    imageWidth = width;
    imageHeight = height;
    return true;
}

MotionBounds MotionDetectContext::detectMotion() {
    MotionBounds sample{currentTime, {}};
    if (!pairIsComparable()) return sample;
    const OffsetTiles found{LowLevel_MotionDetectionTakeDifference(
        slotBefore(2).pixels.get(), slotBefore(1).pixels.get(), nullptr, static_cast<int32_t>(imageWidth),
        static_cast<int32_t>(imageHeight))};
    for (const MotionOffsetTile* tile = found.tiles; tile && tile->displacedCount > 0; ++tile) {
        addMotionRect(sample, tile->displacedCount, tile->x, tile->y, tile->w, tile->h, motionGroupDistanceThreshold);
    }
    pruneGroups(sample, 200);
    dropDegenerateBounds(sample);
    sortByArea(sample.bounds);
    return sample;
}

void MotionDetectContext::analyzeFrames() {
    if (!pairIsComparable()) {
        // A frame of the pair was skipped or had another size: finding no
        // motion here must not remove a stored sample.
        NSLog("analyzeFrames(): Skipped a pair without two frames of the current size at time " +
              timeText(currentTime));
        return;
    }
    MotionBounds sample = detectMotion();
    NSLog("Number of bounds: " + std::to_string(sample.bounds.size()));

    std::vector<MotionBounds>& samples = result.motionBounds;
    const auto n = static_cast<int64_t>(samples.size());
    int64_t i = std::clamp<int64_t>(nextResultIndex, 0, n);
    while (i > 0 && !isBefore(samples[static_cast<size_t>(i - 1)].time, currentTime)) --i;
    while (i < n && isBefore(samples[static_cast<size_t>(i)].time, currentTime)) ++i;
    nextResultIndex = i;

    const auto at = samples.begin() + i;
    const bool sameTime = i < n && isSameTime(at->time, currentTime);
    if (sample.bounds.empty()) {
        if (sameTime) {
            samples.erase(at);
            NSLog("analyzeFrames(): Removed result for time " + timeText(currentTime));
        }
    } else if (sameTime) {
        *at = std::move(sample);
        NSLog("analyzeFrames(): Replaced existing result for time " + timeText(currentTime));
    } else if (i < n) {
        samples.insert(at, std::move(sample));
        NSLog("analyzeFrames(): Added result at beginning or middle for time " + timeText(currentTime));
    } else {
        samples.push_back(std::move(sample));
        NSLog("analyzeFrames(): Appended result for time " + timeText(currentTime));
    }
}

void MotionDetectContext::addFrame(CMTime time, int64_t width, int64_t height, const float* pixels,
                                   size_t bytesPerRow) {
    const int64_t frameNumber = nextAnalyzedFrameNum++;
    const size_t packedRow = static_cast<size_t>(std::max<int64_t>(width, 0)) * 4 * sizeof(float);
    if (bytesPerRow == 0) bytesPerRow = packedRow;
    if (!pixels || bytesPerRow < packedRow) {
        forgetCopiedFrames();
        NSLog(pixels ? "addFrame(): Skipped a frame whose rows are shorter than its width"
                     : "addFrame(): Skipped a frame without pixels");
        return;
    }

    currentTime = time;
    if (!allocateFrames(width, height)) return;

    const int64_t every = std::max<int64_t>(analyzeEvery, 1);
    const bool closesPair = frameNumber >= 1 && frameNumber % every == 0;
    if (!closesPair && (frameNumber + 1) % every != 0) return;

    copyIntoRing(width, height, pixels, bytesPerRow);
    if (closesPair) analyzeFrames();
}

void MotionDetectContext::copyIntoRing(int64_t width, int64_t height, const float* pixels, size_t bytesPerRow) {
    Slot& slot = slotBefore(0);
    const size_t rowBytes = static_cast<size_t>(width) * 4 * sizeof(float);
    const auto* source = reinterpret_cast<const unsigned char*>(pixels);
    auto* target = reinterpret_cast<unsigned char*>(slot.pixels.get());
    // A large frame is copied by all cores: one core cannot use the memory's
    // whole bandwidth, and the copy would otherwise cost as much as the comparison.
    constexpr size_t kParallelCopyBytes = size_t{4} << 20;
    // Pieces of about 1 MiB each, so that every core gets several.
    constexpr size_t kPieceBytes = size_t{1} << 20;
    const size_t rows = static_cast<size_t>(height);
    const bool parallel = rowBytes * rows >= kParallelCopyBytes;
    const size_t rowsPerPiece = parallel ? std::max<size_t>(kPieceBytes / std::max<size_t>(rowBytes, 1), 1) : rows;
    dispatch::concurrentPerform(rows, rowsPerPiece, [&](size_t begin, size_t end) {
        for (size_t row = begin; row < end; ++row)
            std::memcpy(target + row * rowBytes, source + row * bytesPerRow, rowBytes);
    });
    slot.width = width;
    slot.height = height;
    frameSel = (ringIndex(frameSel) + 1) % nFrames;
}

MotionDetectContext::Slot& MotionDetectContext::slotBefore(int64_t k) {
    return (*frames_)[ringIndex(frameSel + nFrames - k)];
}

size_t MotionDetectContext::ringIndex(int64_t i) { return static_cast<size_t>(((i % nFrames) + nFrames) % nFrames); }

bool MotionDetectContext::pairIsComparable() {
    if (!frames_) return false;
    for (const int64_t k : {2, 1}) {
        const Slot& slot = slotBefore(k);
        if (slot.width != imageWidth || slot.height != imageHeight) return false;
    }
    return true;
}

void MotionDetectContext::forgetCopiedFrames() {
    if (!frames_) return;
    for (Slot& slot : *frames_) slot.width = slot.height = 0;
}

void MotionDetectContext::releaseFrames() {
    frames_.reset();
    nElems = 0;
}

bool MotionDetectContext::isUsableFrameSize(int64_t width, int64_t height) {
    // Each side must fit the differencing's 32-bit sizes, and a frame's bytes a 64-bit count.
    constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           height <= std::numeric_limits<int64_t>::max() / 16 / width;
}

void MotionDetectContext::cleanup() {
    frames_.reset();
    nextAnalyzedFrameNum = 0;
    result.motionBounds.clear();
}

bool isSane(const MotionAnalysis& analysis) {
    const auto& samples = analysis.motionBounds;
    for (size_t i = 1; i < samples.size(); ++i) {
        if (!isBefore(samples[i - 1].time, samples[i].time)) return false;
    }
    return true;
}

void removeResults(MotionAnalysis& analysis, CMTime from, CMTime to) {
    std::erase_if(analysis.motionBounds, [&](const MotionBounds& sample) {
        return !isBefore(sample.time, from) && isBefore(sample.time, to);
    });
}

}  // namespace kv
