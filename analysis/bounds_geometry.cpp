#include "analysis/bounds_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "platform/coregraphics/cgrect.h"
#include "platform/foundation/double_text.h"
#include "platform/foundation/log.h"
#include "platform/foundation/number_cast.h"

namespace kv {
namespace {

// Ties and NaN resolve as the platform's min and max do: min keeps the first
// operand unless the second is smaller, max takes the second unless it is smaller.
double lesser(double a, double b) { return b < a ? b : a; }
double greater(double a, double b) { return b >= a ? b : a; }

bool allEdgesZero(const Bounds& b) { return b.minX == 0 && b.minY == 0 && b.maxX == 0 && b.maxY == 0; }

bool isThin(double minEdge, double maxEdge) { return maxEdge - minEdge <= kDegenerateSize; }

CGRect rectOf(const Bounds& b) { return CGRectMake(b.minX, b.minY, b.maxX - b.minX, b.maxY - b.minY); }

}  // namespace

int64_t addCounts(int64_t a, int64_t b) {
    int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    }
    return sum;
}

double area(const Bounds& b) { return (b.maxX - b.minX) * (b.maxY - b.minY); }

bool isEmpty(const Bounds& b) {
    return b.count == 0 || allEdgesZero(b) || isThin(b.minX, b.maxX) || isThin(b.minY, b.maxY);
}

void formUnion(Bounds& b, const Bounds& other) {
    if (isEmpty(other)) return;
    if (isEmpty(b)) {
        b = other;
        return;
    }
    b.minX = lesser(b.minX, other.minX);
    b.minY = lesser(b.minY, other.minY);
    b.maxX = greater(b.maxX, other.maxX);
    b.maxY = greater(b.maxY, other.maxY);
    b.count = addCounts(b.count, other.count);
}

void blend(Bounds& b, const Bounds& other, double factor) {
    if (isEmpty(other)) return;
    if (isEmpty(b)) {
        b = other;
        return;
    }
    // Each product is rounded on its own before the sum (the build never fuses).
    const double keep = 1 - factor;
    if (other.minX < b.minX) b.minX = other.minX * factor + keep * b.minX;
    if (other.minY < b.minY) b.minY = other.minY * factor + keep * b.minY;
    if (b.maxX < other.maxX) b.maxX = other.maxX * factor + keep * b.maxX;
    if (b.maxY < other.maxY) b.maxY = other.maxY * factor + keep * b.maxY;
    b.count = addCounts(b.count, saturatingInt64(static_cast<double>(other.count) * factor));
}

void extend(Bounds& b, double x, double y, int64_t count) {
    if (b.minX > x) b.minX = x;
    if (b.minY > y) b.minY = y;
    if (b.maxX < x) b.maxX = x;
    if (b.maxY < y) b.maxY = y;
    b.count = addCounts(b.count, count);
}

void intersectEach(Bounds& b, const std::vector<Bounds>& list) {
    if (isEmpty(b)) return;
    const CGRect self = rectOf(b);
    bool anyOverlap = false;
    Bounds joined;
    for (const Bounds& other : list) {
        const CGRect overlap = CGRectIntersection(self, rectOf(other));
        if (CGRectIsNull(overlap)) continue;
        anyOverlap = true;
        if (!(overlap.size.width > kDegenerateSize && overlap.size.height > kDegenerateSize)) continue;
        const Bounds edges{CGRectGetMinX(overlap), CGRectGetMinY(overlap), CGRectGetMaxX(overlap),
                           CGRectGetMaxY(overlap), 0};
        if (allEdgesZero(joined) || isThin(joined.minX, joined.maxX) || isThin(joined.minY, joined.maxY)) {
            joined = edges;
        } else {
            joined.minX = lesser(joined.minX, edges.minX);
            joined.minY = lesser(joined.minY, edges.minY);
            joined.maxX = greater(joined.maxX, edges.maxX);
            joined.maxY = greater(joined.maxY, edges.maxY);
        }
    }
    if (!anyOverlap) {
        b = Bounds{};
        return;
    }
    b.minX = joined.minX;
    b.minY = joined.minY;
    b.maxX = joined.maxX;
    b.maxY = joined.maxY;
}

double distance(const Bounds& b, double x, double y) {
    double ex = 0;
    if (x < b.minX) {
        ex = b.minX - x;
    } else if (x > b.maxX) {
        ex = x - b.maxX;
    }
    double ey = 0;
    if (y < b.minY) {
        ey = b.minY - y;
    } else if (y > b.maxY) {
        ey = y - b.maxY;
    }
    return std::sqrt(ey * ey + ex * ex);
}

void fitInFrame(Bounds& b, double width, double height, double marginX, double marginY) {
    const double cx = (b.minX + b.maxX) * 0.5;
    const double cy = (b.minY + b.maxY) * 0.5;
    b.minX = cx - width * 0.5;
    b.minY = cy - height * 0.5;
    b.maxX = width * 0.5 + cx;
    b.maxY = height * 0.5 + cy;

    // Shift, never shrink: the low edge is tested first, so a box too large
    // for the frame ends flush with the low limit.
    if (b.minX < -marginX) {
        b.maxX += -marginX - b.minX;
        b.minX = -marginX;
    } else if (1 + marginX < b.maxX) {
        b.minX -= b.maxX - 1 - marginX;
        b.maxX = 1 + marginX;
    }
    if (b.minY < -marginY) {
        b.maxY += -marginY - b.minY;
        b.minY = -marginY;
    } else if (1 + marginY < b.maxY) {
        b.minY -= b.maxY - 1 - marginY;
        b.maxY = 1 + marginY;
    }

    NSLog("result " + doubleText(b.minX) + ", " + doubleText(b.minY) + ", " + doubleText(b.maxX) + ", " +
          doubleText(b.maxY) + ", cx " + doubleText((b.maxX + b.minX) * 0.5) + ", cy " +
          doubleText((b.maxY + b.minY) * 0.5));
}

double totalArea(const std::vector<Bounds>& list) {
    double sum = 0;
    for (const Bounds& b : list) {
        if (!isEmpty(b)) sum += area(b);
    }
    return sum;
}

size_t nearestGroup(const std::vector<Bounds>& list, double x, double y) {
    if (list.empty()) return 0;
    size_t nearest = 0;
    double nearestDistance = distance(list[0], x, y);
    for (size_t i = 1; i < list.size(); ++i) {
        const double d = distance(list[i], x, y);
        if (d < nearestDistance) {
            nearest = i;
            nearestDistance = d;
        }
    }
    return nearest;
}

void sortByArea(std::vector<Bounds>& list) {
    // A NaN area sorts as the smallest, which keeps the ordering strict.
    const auto key = [](const Bounds& b) {
        const double a = area(b);
        return std::isnan(a) ? -std::numeric_limits<double>::infinity() : a;
    };
    std::stable_sort(list.begin(), list.end(), [&](const Bounds& l, const Bounds& r) { return key(l) > key(r); });
}

void addMotionRect(MotionBounds& sample, int64_t count, double x, double y, double w, double h, double threshold) {
    std::vector<Bounds>& groups = sample.bounds;
    const size_t i = nearestGroup(groups, x + w * 0.5, y + h * 0.5);
    if (!groups.empty()) {
        Bounds& group = groups[i];
        if (distance(group, x, y) <= threshold || distance(group, x + w, y) <= threshold ||
            distance(group, x + w, y + h) <= threshold || distance(group, x, y + h) <= threshold) {
            // The group reaches only to the rectangle's first corner.
            extend(group, x, y, count);
            return;
        }
    }
    // A group opens with count 0: the rectangle that opens it adds no weight.
    groups.push_back(Bounds{x, y, x + w, y + h, 0});
}

void pruneGroups(MotionBounds& sample, int64_t minCount) {
    std::erase_if(sample.bounds, [minCount](const Bounds& b) { return b.count < minCount; });
}

void dropDegenerateBounds(MotionBounds& sample) {
    std::erase_if(sample.bounds, [](const Bounds& b) { return isEmpty(b); });
}

}  // namespace kv
