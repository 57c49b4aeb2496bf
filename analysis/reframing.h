#pragma once
// The reframing: from a stored motion analysis and the framing settings, the
// smoothed region of persistent motion around a moment (computeProcessedBounds)
// and the crop window that keeps it in frame (cropFrame).
#include <cstddef>
#include <functional>
#include <ranges>
#include <type_traits>

#include "analysis/frame_config.h"
#include "analysis/motion_types.h"
#include "platform/coremedia/cmtime.h"
#include "platform/foundation/result.h"

namespace kv {

// The framing settings in force at a clip time. Asked for the same few times
// over and over, so it should answer repeated times from a memo.
using SettingsProvider = std::function<FrameConfig(CMTime)>;

// Binary search over a range partitioned by `holds` (every element for which it
// is false before every element for which it is true): the index of the first
// element for which it holds, or the size when it holds nowhere. A predicate
// may answer Result<bool>; its first error ends the search and is returned.
template <std::ranges::random_access_range Range, class Predicate>
auto partitioningIndex(const Range& range, Predicate&& holds) {
    using Answer = std::invoke_result_t<Predicate&, std::ranges::range_reference_t<const Range>>;
    constexpr bool kCanFail = !std::is_same_v<std::remove_cvref_t<Answer>, bool>;
    using Index = std::conditional_t<kCanFail, Result<size_t>, size_t>;

    const auto first = std::ranges::begin(range);
    size_t low = 0;
    size_t length = static_cast<size_t>(std::ranges::size(range));
    while (length > 0) {
        const size_t half = length / 2;
        const size_t middle = low + half;
        bool found;
        if constexpr (kCanFail) {
            auto answer = holds(first[middle]);
            if (!answer.ok()) return Index(answer.error());
            found = *answer;
        } else {
            found = holds(first[middle]);
        }
        if (found) {
            length = half;
        } else {
            low = middle + 1;
            length = length - half - 1;
        }
    }
    return Index(low);
}

// Seconds from `from` to `to`, as the difference of the two times.
double secondsBetween(CMTime to, CMTime from);

// The last sample lying less than `ahead` seconds after t; the first sample
// when there is none. `samples` must not be empty.
size_t lastSampleBefore(const std::vector<MotionBounds>& samples, CMTime t, double ahead);

// The union of the boxes of `sample` that are followed under `config`: a
// corner or the centre in the motion box, a count of at least
// minMovedPixels (and not 0), and not empty.
Bounds keptUnion(const MotionBounds& sample, const FrameConfig& config);

// The region in which motion persists from sample to sample around the time
// t + offset (seconds), each walk in time limited by `margin` (seconds) and
// the settings. The zero Bounds when no persistent motion is found.
Bounds computeProcessedBounds(CMTime t, const MotionAnalysis& analysis, const SettingsProvider& settingsAt,
                              double offset, double margin);

// The crop the renderer applies: the window's centre in the fractions of the
// source, and its zoom (the window is 1/scale of the source on each axis).
struct CropFrame {
    CMTime time;
    double centerX = 0;
    double centerY = 0;
    double scale = 0;

    friend bool operator==(const CropFrame&, const CropFrame&) = default;
};

// Widens `bounds` by the padding settings, zooms so that its larger side fills
// the window (within minScale and maxScale), and places the window in the
// source, which it may overhang on the axis where the target aspect is narrower.
// `sourceAspect` is the source's width over its height. Logs the fitted window.
CropFrame cropFrame(CMTime time, double sourceAspect, const Bounds& bounds, const FrameConfig& config);

}  // namespace kv
