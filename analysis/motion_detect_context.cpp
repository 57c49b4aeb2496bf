#include "analysis/motion_detect_context.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "analysis/bounds_geometry.h"
#include "analysis/frame_difference.h"
#include "platform/foundation/log.h"

namespace kv {

namespace {

std::string timeSuffix(CMTime time) { return std::to_string(time.value) + "/" + std::to_string(time.timescale); }

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

void MotionDetectContext::allocateFrames(int64_t width, int64_t height) {
    const int64_t n = width * height * 4;
    if (n != nElems) {
        nElems = n;
        frames_.reset();
    }
    if (!frames_) {
        frames_.emplace();
        // Not cleared: every slot is written before it is read.
        for (Slot& slot : *frames_) slot.pixels.reset(new float[static_cast<size_t>(nElems)]);
    }
    result.imageWidth = width;
    result.imageHeight = height;
    imageWidth = width;
    imageHeight = height;
}

MotionBounds MotionDetectContext::detectMotion() {
    MotionBounds sample{currentTime, {}};
    if (!frames_) return sample;
    const Slot& earlier = (*frames_)[static_cast<size_t>((frameSel + nFrames - 2) % nFrames)];
    const Slot& later = (*frames_)[static_cast<size_t>((frameSel + nFrames - 1) % nFrames)];
    // Only frames of the ring's size can be compared.
    for (const Slot* slot : {&earlier, &later}) {
        if (slot->width != imageWidth || slot->height != imageHeight) return sample;
    }

    const OffsetTiles found{LowLevel_MotionDetectionTakeDifference(
        earlier.pixels.get(), later.pixels.get(), nullptr, static_cast<int32_t>(imageWidth),
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
            NSLog("analyzeFrames(): Removed result for time " + timeSuffix(currentTime));
        }
    } else if (sameTime) {
        *at = std::move(sample);
        NSLog("analyzeFrames(): Replaced existing result for time " + timeSuffix(currentTime));
    } else if (i < n) {
        samples.insert(at, std::move(sample));
        NSLog("analyzeFrames(): Added result at beginning or middle for time " + timeSuffix(currentTime));
    } else {
        samples.push_back(std::move(sample));
        NSLog("analyzeFrames(): Appended result for time " + timeSuffix(currentTime));
    }
}

void MotionDetectContext::addFrame(CMTime time, int64_t width, int64_t height, const float* pixels,
                                   size_t bytesPerRow) {
    const int64_t frameNumber = nextAnalyzedFrameNum++;
    constexpr int64_t kMaxSide = std::numeric_limits<int32_t>::max();
    const size_t packedRow = static_cast<size_t>(std::max<int64_t>(width, 0)) * 4 * sizeof(float);
    if (bytesPerRow == 0) bytesPerRow = packedRow;
    const bool usable = pixels && width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
                        height <= std::numeric_limits<int64_t>::max() / 16 / width && bytesPerRow >= packedRow;
    if (!usable) {
        NSLog("addFrame(): Skipped a frame of unusable size " + std::to_string(width) + "x" + std::to_string(height));
        return;
    }

    currentTime = time;
    try {
        allocateFrames(width, height);
    } catch (const std::bad_alloc&) {
        frames_.reset();
        nElems = 0;
        NSLog("addFrame(): Out of memory for frames of size " + std::to_string(width) + "x" + std::to_string(height));
        return;
    }

    const int64_t every = std::max<int64_t>(analyzeEvery, 1);
    const bool closesPair = frameNumber >= 1 && frameNumber % every == 0;
    if (!closesPair && (frameNumber + 1) % every != 0) return;

    copyIntoRing(width, height, pixels, bytesPerRow);
    if (!closesPair) return;
    const Slot& earlier = (*frames_)[static_cast<size_t>((frameSel + nFrames - 2) % nFrames)];
    if (earlier.width != width || earlier.height != height) {
        // The frame size changed within the pair: there is no earlier frame
        // of this size to compare with.
        NSLog("analyzeFrames(): Skipped a pair across a change of frame size at time " + timeSuffix(currentTime));
        return;
    }
    analyzeFrames();
}

void MotionDetectContext::copyIntoRing(int64_t width, int64_t height, const float* pixels, size_t bytesPerRow) {
    Slot& slot = (*frames_)[static_cast<size_t>(frameSel)];
    const size_t rowBytes = static_cast<size_t>(width) * 4 * sizeof(float);
    const auto* source = reinterpret_cast<const unsigned char*>(pixels);
    auto* target = reinterpret_cast<unsigned char*>(slot.pixels.get());
    if (bytesPerRow == rowBytes) {
        std::memcpy(target, source, rowBytes * static_cast<size_t>(height));
    } else {
        for (int64_t row = 0; row < height; ++row) {
            std::memcpy(target + static_cast<size_t>(row) * rowBytes, source + static_cast<size_t>(row) * bytesPerRow,
                        rowBytes);
        }
    }
    slot.width = width;
    slot.height = height;
    frameSel = (frameSel + 1) % nFrames;
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
