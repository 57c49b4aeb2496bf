#pragma once
// Geometry of motion boxes, and the grouping that turns the rectangles found
// by the frame differencing into the boxes of one sample.
//
// Every operation works on plain values in the fractions of the analysed image.
// Operations that change a box take it as their first argument (the receiver).
// Counts saturate at the limits of int64_t instead of overflowing.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/motion_types.h"

namespace kv {

// A box whose width or height is this or less holds no area.
inline constexpr double kDegenerateSize = 0.001;

// Width × height, whether the box is empty or not.
double area(const Bounds& b);

// a + b, held at the limits of int64_t instead of overflowing.
int64_t addCounts(int64_t a, int64_t b);

// Empty: count 0, or all four edges 0, or width or height kDegenerateSize or less.
bool isEmpty(const Bounds& b);

// Grows `b` to cover `other` and adds its count. An empty `other` changes
// nothing; an empty `b` becomes a copy of `other`.
void formUnion(Bounds& b, const Bounds& other);

// Moves each edge of `b` that `other` lies outside of toward `other`'s edge by
// `factor`, and adds other.count × factor truncated toward zero. An empty
// `other` changes nothing; an empty `b` becomes a copy of `other`.
void blend(Bounds& b, const Bounds& other, double factor);

// Grows `b` to cover the point (x, y) and adds `count`.
void extend(Bounds& b, double x, double y, int64_t count);

// `b` becomes the bounding box of its overlaps with the boxes of `list` that
// are wider and taller than kDegenerateSize; all zero when nothing overlaps at
// all. The count stays. An empty `b` is never changed.
void intersectEach(Bounds& b, const std::vector<Bounds>& list);

// Distance from the point (x, y) to the box; 0 on its edges and inside.
double distance(const Bounds& b, double x, double y);

// Gives `b` the size width × height about its centre, then shifts it (never
// resizes it) so that it lies within -margin .. 1 + margin on each axis where
// it can, the low edge tested first. Logs the resulting box. The count stays.
void fitInFrame(Bounds& b, double width, double height, double marginX, double marginY);

// Sum of width × height over the boxes that are not empty, in list order.
double totalArea(const std::vector<Bounds>& list);

// Index of the box nearest to (x, y), the first one among equals; every box
// counts, empty or not. The list's length when it is empty.
size_t nearestGroup(const std::vector<Bounds>& list, double x, double y);

// Stable sort by area, larger first: boxes of equal area keep their order.
void sortByArea(std::vector<Bounds>& list);

// Merges the rectangle (x, y, w, h) into the group nearest to its centre when
// one of its corners lies within `threshold` of that group; the group then
// grows to the rectangle's corner (x, y) only and gains `count`. Otherwise the
// rectangle opens a new group of count 0.
void addMotionRect(MotionBounds& sample, int64_t count, double x, double y, double w, double h, double threshold);

// Removes the groups whose count is below `minCount`; the rest keep their order.
void pruneGroups(MotionBounds& sample, int64_t minCount);

// Removes the empty groups; the rest keep their order.
void dropDegenerateBounds(MotionBounds& sample);

}  // namespace kv
