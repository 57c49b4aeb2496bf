#pragma once
// The plain values of the platform's GPU interface: pixel formats, load
// actions, primitive types, viewports and clear colours, with the platform's
// own numeric codes.
#include <cstdint>

using NSUInteger = uint64_t;

// The pixel formats the software GPU stores and samples.
using MTLPixelFormat = NSUInteger;
inline constexpr MTLPixelFormat MTLPixelFormatInvalid = 0;
inline constexpr MTLPixelFormat MTLPixelFormatBGRA8Unorm = 80;
inline constexpr MTLPixelFormat MTLPixelFormatRGBA16Float = 115;
inline constexpr MTLPixelFormat MTLPixelFormatRGBA32Float = 125;

enum MTLLoadAction : NSUInteger {
    MTLLoadActionDontCare = 0,
    MTLLoadActionLoad = 1,
    MTLLoadActionClear = 2,
};

enum MTLStoreAction : NSUInteger {
    MTLStoreActionDontCare = 0,
    MTLStoreActionStore = 1,
};

enum MTLPrimitiveType : NSUInteger {
    MTLPrimitiveTypePoint = 0,
    MTLPrimitiveTypeLine = 1,
    MTLPrimitiveTypeLineStrip = 2,
    MTLPrimitiveTypeTriangle = 3,
    MTLPrimitiveTypeTriangleStrip = 4,
};

enum MTLFunctionType : NSUInteger {
    MTLFunctionTypeVertex = 1,
    MTLFunctionTypeFragment = 2,
};

enum MTLCommandBufferStatus : NSUInteger {
    MTLCommandBufferStatusNotEnqueued = 0,
    MTLCommandBufferStatusEnqueued = 1,
    MTLCommandBufferStatusCommitted = 2,
    MTLCommandBufferStatusScheduled = 3,
    MTLCommandBufferStatusCompleted = 4,
    MTLCommandBufferStatusError = 5,
};

struct MTLClearColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;
    friend bool operator==(const MTLClearColor&, const MTLClearColor&) = default;
};

inline MTLClearColor MTLClearColorMake(double red, double green, double blue, double alpha) {
    return {red, green, blue, alpha};
}

// The part of the render target that normalised device coordinates -1...1
// map to, in pixels from the target's top-left corner.
struct MTLViewport {
    double originX = 0;
    double originY = 0;
    double width = 0;
    double height = 0;
    double znear = 0;
    double zfar = 1;
    friend bool operator==(const MTLViewport&, const MTLViewport&) = default;
};
