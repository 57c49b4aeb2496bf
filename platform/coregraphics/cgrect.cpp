#include "platform/coregraphics/cgrect.h"

#include <algorithm>
#include <limits>

#include "platform/foundation/json_coding.h"

const CGRect CGRectNull{{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()},
                        {0, 0}};

CGRect CGRectMake(double x, double y, double width, double height) { return CGRect{{x, y}, {width, height}}; }

bool CGRectIsNull(CGRect rect) {
    return rect.origin.x == std::numeric_limits<double>::infinity() ||
           rect.origin.y == std::numeric_limits<double>::infinity();
}

CGRect CGRectStandardize(CGRect rect) {
    if (CGRectIsNull(rect)) return rect;
    if (rect.size.width < 0) {
        rect.origin.x += rect.size.width;
        rect.size.width = -rect.size.width;
    }
    if (rect.size.height < 0) {
        rect.origin.y += rect.size.height;
        rect.size.height = -rect.size.height;
    }
    return rect;
}

CGRect CGRectIntersection(CGRect a, CGRect b) {
    if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectNull;
    a = CGRectStandardize(a);
    b = CGRectStandardize(b);
    const double minX = std::max(a.origin.x, b.origin.x);
    const double minY = std::max(a.origin.y, b.origin.y);
    const double maxX = std::min(a.origin.x + a.size.width, b.origin.x + b.size.width);
    const double maxY = std::min(a.origin.y + a.size.height, b.origin.y + b.size.height);
    // Written so that a NaN edge also gives null.
    if (!(minX <= maxX) || !(minY <= maxY)) return CGRectNull;
    return CGRect{{minX, minY}, {maxX - minX, maxY - minY}};
}

bool CGRectContainsPoint(CGRect rect, CGPoint point) {
    if (CGRectIsNull(rect)) return false;
    rect = CGRectStandardize(rect);
    return point.x >= rect.origin.x && point.x < rect.origin.x + rect.size.width && point.y >= rect.origin.y &&
           point.y < rect.origin.y + rect.size.height;
}

double CGRectGetMinX(CGRect rect) { return CGRectStandardize(rect).origin.x; }
double CGRectGetMinY(CGRect rect) { return CGRectStandardize(rect).origin.y; }

double CGRectGetMaxX(CGRect rect) {
    const CGRect r = CGRectStandardize(rect);
    return r.origin.x + r.size.width;
}

double CGRectGetMaxY(CGRect rect) {
    const CGRect r = CGRectStandardize(rect);
    return r.origin.y + r.size.height;
}

nlohmann::ordered_json encodeCGRect(CGRect rect) {
    using kv::json::finiteNumber;
    return nlohmann::ordered_json::array(
        {nlohmann::ordered_json::array({finiteNumber(rect.origin.x, "x"), finiteNumber(rect.origin.y, "y")}),
         nlohmann::ordered_json::array(
             {finiteNumber(rect.size.width, "width"), finiteNumber(rect.size.height, "height")})});
}

CGRect decodeCGRect(const nlohmann::json& json, const char* path) {
    using kv::json::Reader;
    const auto pair = [&](const nlohmann::json& j) {
        if (!j.is_array() || j.size() != 2) kv::json::fail(path, "expected an array of two numbers");
        return std::pair{Reader::number(j[0], path), Reader::number(j[1], path)};
    };
    if (!json.is_array() || json.size() != 2) kv::json::fail(path, "expected [[x, y], [width, height]]");
    const auto [x, y] = pair(json[0]);
    const auto [w, h] = pair(json[1]);
    return CGRectMake(x, y, w, h);
}
