#include "analysis/reframing.h"

#include "analysis/bounds_geometry.h"
#include "platform/coregraphics/cgrect.h"

namespace kv {
namespace {

bool touchesMotionBox(const Bounds& b, CGRect motionBox) {
    return CGRectContainsPoint(motionBox, CGPoint{b.minX, b.minY}) ||
           CGRectContainsPoint(motionBox, CGPoint{b.maxX, b.maxY}) ||
           CGRectContainsPoint(motionBox, CGPoint{b.maxX, b.minY}) ||
           CGRectContainsPoint(motionBox, CGPoint{b.minX, b.maxY}) ||
           CGRectContainsPoint(motionBox, CGPoint{(b.minX + b.maxX) * 0.5, (b.minY + b.maxY) * 0.5});
}

// One step of either walk over sample j: unless the sample keeps no motion,
// clip the region against all of the sample's boxes, add what is left of it to
// `accumulated`, and make the sample's kept motion the next region. Returns
// whether the step took the sample.
bool takeSample(const MotionBounds& sample, const FrameConfig& config, Bounds& region, Bounds& accumulated) {
    if (sample.bounds.empty()) return false;
    const Bounds kept = keptUnion(sample, config);
    if (isEmpty(kept)) return false;
    intersectEach(region, sample.bounds);
    Bounds clipped;
    blend(clipped, region, 1.0);
    formUnion(accumulated, clipped);
    region = kept;
    return true;
}

}  // namespace

double secondsBetween(CMTime to, CMTime from) { return CMTimeGetSeconds(CMTimeSubtract(to, from)); }

size_t lastSampleBefore(const std::vector<MotionBounds>& samples, CMTime t, double ahead) {
    const size_t k =
        partitioningIndex(samples, [&](const MotionBounds& s) { return secondsBetween(t, s.time) + ahead <= 0; });
    return k == 0 ? 0 : k - 1;
}

Bounds keptUnion(const MotionBounds& sample, const FrameConfig& config) {
    const CGRect motionBox = motionBoxRect(config);
    Bounds kept;
    for (const Bounds& b : sample.bounds) {
        if (!touchesMotionBox(b, motionBox)) continue;
        if (b.count == 0 || b.count < config.minMovedPixels) continue;
        formUnion(kept, b);  // passes over empty boxes
    }
    return kept;
}

Bounds computeProcessedBounds(CMTime t, const MotionAnalysis& analysis, const SettingsProvider& settingsAt,
                              double offset, double margin) {
    const std::vector<MotionBounds>& samples = analysis.motionBounds;
    const CMTime query = CMTimeAdd(t, CMTimeMakeWithSeconds(offset, t.timescale));
    const size_t n = samples.size();
    if (n == 0) return Bounds{};

    // The anchor is the last sample lying less than `offset` seconds after t
    // (the first sample when there is none). The offset enters as the Double.
    const size_t a = lastSampleBefore(samples, t, offset);
    const Bounds anchorKept = keptUnion(samples[a], settingsAt(query));

    // Backward walk. It takes the first earlier sample whatever its distance,
    // and tests nothing until its own accumulation reaches minMotionArea at t.
    Bounds backward;
    if (a >= 1) {
        const double dRef = secondsBetween(t, samples[a - 1].time);
        Bounds region = anchorKept;
        bool warmingUp = true;
        for (size_t j = a; j-- > 0;) {
            const MotionBounds& sample = samples[j];
            const FrameConfig config = settingsAt(sample.time);
            if (j != a - 1 && !warmingUp) {
                const double e = secondsBetween(t, sample.time) - dRef;
                const double sampleArea = totalArea(sample.bounds);
                if (sampleArea >= config.minMotionArea && e >= margin) break;
                if (e >= config.easeTimeSmooth && sampleArea >= config.maxMotionArea) break;
            }
            if (!takeSample(sample, config, region, backward)) continue;
            if (warmingUp) warmingUp = settingsAt(t).minMotionArea > area(backward);
        }
    }

    // Forward walk. It tests from its first sample; once the backward walk has
    // found enough motion, it stops at the margin and at easeTimeSmooth
    // whatever the sample's own area.
    Bounds forward;
    if (a + 1 < n) {
        const bool enough = settingsAt(t).minMotionArea <= area(backward);
        const double dF = secondsBetween(samples[a + 1].time, t);
        Bounds region = anchorKept;
        for (size_t j = a + 1; j < n; ++j) {
            const MotionBounds& sample = samples[j];
            const FrameConfig config = settingsAt(sample.time);
            const double e = secondsBetween(sample.time, t) - dF;
            const double sampleArea = totalArea(sample.bounds);
            if ((enough || sampleArea >= config.minMotionArea) && e >= margin) break;
            if (e >= config.easeTimeSmooth && (enough || sampleArea >= config.maxMotionArea)) break;
            takeSample(sample, config, region, forward);
        }
    }

    Bounds result;
    formUnion(result, backward);
    formUnion(result, forward);
    return result;
}

CropFrame cropFrame(CMTime time, double sourceAspect, const Bounds& bounds, const FrameConfig& config) {
    const double src = sourceAspect;
    const double target = config.aspectRatioWidth / config.aspectRatioHeight;

    // How far the window may overhang the source at scale 1, on the one axis
    // where the source is wider than the target. Written so NaN counts as none.
    double marginX0 = (src - target) / src * 0.5;
    if (!(marginX0 > 0)) marginX0 = 0;
    double marginY0 = (1 / src - 1 / target) * src * 0.5;
    if (!(marginY0 > 0)) marginY0 = 0;

    const double w = bounds.maxX - bounds.minX;
    const double h = bounds.maxY - bounds.minY;
    Bounds window{bounds.minX - w * config.paddingLeft, bounds.minY - h * config.paddingBottom,
                  bounds.maxX + w * config.paddingRight, bounds.maxY + h * config.paddingTop, 0};

    const double width = window.maxX - window.minX;
    const double height = window.maxY - window.minY;
    double s = 1 / (width > height ? width : height);
    if (s < config.minScale) s = config.minScale;
    if (config.maxScale < s) s = config.maxScale;

    fitInFrame(window, 1 / s, 1 / s, marginX0 / s, marginY0 / s);
    return CropFrame{time, (window.minX + window.maxX) * 0.5, (window.minY + window.maxY) * 0.5, s};
}

}  // namespace kv
