#pragma once
// Rectangles of doubles, as the platform's graphics framework defines them.
// A width or height may be negative; the edge functions normalise first.
#include <nlohmann/json_fwd.hpp>

struct CGPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    friend bool operator==(const CGRect&, const CGRect&) = default;
};

// The rectangle that stands for "no rectangle": origin at infinity, size 0.
extern const CGRect CGRectNull;

CGRect CGRectMake(double x, double y, double width, double height);
bool CGRectIsNull(CGRect rect);

// The same rectangle with a non-negative width and height.
CGRect CGRectStandardize(CGRect rect);

// The overlap of the two normalised rectangles. Rectangles that only touch
// overlap in a rectangle of zero width or height; rectangles apart give null.
CGRect CGRectIntersection(CGRect a, CGRect b);

// After normalising: minX <= x < maxX and minY <= y < maxY.
bool CGRectContainsPoint(CGRect rect, CGPoint point);

double CGRectGetMinX(CGRect rect);
double CGRectGetMinY(CGRect rect);
double CGRectGetMaxX(CGRect rect);
double CGRectGetMaxY(CGRect rect);

// JSON coding of a rectangle: [[x, y], [width, height]], sizes kept as they
// are. Encoding fails on a value that is not finite; decoding on any other
// shape. Both throw kv::JsonCodingError.
nlohmann::ordered_json encodeCGRect(CGRect rect);
CGRect decodeCGRect(const nlohmann::json& json, const char* path);
