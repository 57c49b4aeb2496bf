#ifndef KV_ANALYSIS_FRAME_DIFFERENCE_H
#define KV_ANALYSIS_FRAME_DIFFERENCE_H
/*
 * Frame differencing: compares two frames of equal size and finds where the
 * picture moved between them. A grid of scan points (every 5 pixels, 20 away
 * from each edge) is laid over the first frame; points with enough colour
 * contrast and texture get a whole-pixel shift from a greedy descent over
 * window difference ratios, and those whose shift passes the acceptance test
 * come back as MotionOffsetTile records, in scan order.
 *
 * Frames are width x height pixels of four floats R, G, B, A (alpha is never
 * read), rows packed with no gap. The functions only read the frames.
 *
 * Plain C linkage and C-compatible types, so any program can link against it.
 * Every function is reentrant; the entry keeps no state between calls.
 */
#include <stddef.h>
#include <stdint.h>
#include <math.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One detected motion: a window of the first frame and the shift found for it.
 * 48 bytes in native byte order with no gaps; the caller reads the array up to
 * the first record whose displacedCount is 0 or less (the terminator). */
typedef struct MotionOffsetTile {
    float x;                   /* col / width */
    float y;                   /* row / height */
    float w;                   /* 10 / width: the window's half side */
    float h;                   /* 10 / height */
    float dx;                  /* found column shift / width */
    float dy;                  /* found row shift / height */
    int32_t displacedCount;    /* window pixels better matched displaced; >= 1 in every record */
    int32_t inPlaceCount;      /* window pixels better matched in place */
    float displacedDiffMean;   /* mean squared RGB distance to the displaced place */
    float inPlaceDiffMean;     /* mean squared RGB distance to the same place */
    float displacedEnergyMean; /* mean squared RGB magnitude of the second frame, displaced */
    float inPlaceEnergyMean;   /* same, in place */
} MotionOffsetTile;

#ifdef __cplusplus
#define KV_FD_STATIC_ASSERT static_assert
#else
#define KV_FD_STATIC_ASSERT _Static_assert
#endif
KV_FD_STATIC_ASSERT(sizeof(MotionOffsetTile) == 48, "MotionOffsetTile is a 48-byte shared record");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, x) == 0, "x at 0");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, y) == 4, "y at 4");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, w) == 8, "w at 8");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, h) == 12, "h at 12");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, dx) == 16, "dx at 16");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, dy) == 20, "dy at 20");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, displacedCount) == 24, "displacedCount at 24");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, inPlaceCount) == 28, "inPlaceCount at 28");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, displacedDiffMean) == 32, "displacedDiffMean at 32");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, inPlaceDiffMean) == 36, "inPlaceDiffMean at 36");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, displacedEnergyMean) == 40, "displacedEnergyMean at 40");
KV_FD_STATIC_ASSERT(offsetof(MotionOffsetTile, inPlaceEnergyMean) == 44, "inPlaceEnergyMean at 44");

/* Parameters and results of one scan point. A mean over zero pixels is 0. */
typedef struct TileSearchParams {
    int32_t width;         /* frame width in pixels */
    int32_t height;        /* frame height in pixels */
    int32_t halfWindow;    /* half the side of the compared window; also the least
                              displacedCount a candidate shift needs in the descent */
    int32_t maxIterations; /* iterations of the neighbour descent */
    size_t row;            /* row of the scan point */
    size_t col;            /* column of the scan point */
    float ratioFactor;     /* factor of the mask test and of the acceptance test */
    int32_t dx;            /* column shift: tested (in) or found (out) */
    int32_t dy;            /* row shift, likewise */
    int32_t maskCount;     /* set window-mask pixels, off its outer ring, with >= 3 of 4 neighbours set */
    int32_t displacedCount;
    int32_t inPlaceCount;
    float displacedDiffMean;
    float inPlaceDiffMean;
    float displacedEnergyMean;
    float inPlaceEnergyMean;
} TileSearchParams;

/* Squared RGB magnitude of a pixel: fma(B, B, fma(R, R, G * G)). */
static inline float sqRgb(const float* p) {
    return fmaf(p[2], p[2], fmaf(p[0], p[0], p[1] * p[1]));
}

/* Squared RGB distance of two pixels, with the same order of operations on the
 * channel differences p - q. */
static inline float diffSqRgb(const float* p, const float* q) {
    const float dr = p[0] - q[0];
    const float dg = p[1] - q[1];
    const float db = p[2] - q[2];
    return fmaf(db, db, fmaf(dr, dr, dg * dg));
}

/*
 * Compares f1 (earlier) with f2 (later). When mask is not null (a byte image
 * of width x height), every stored point writes its window test bits there at
 * the displaced places; other bytes are left alone.
 *
 * Returns an array of records in scan order followed by an all-zero terminator;
 * it has room for (width / 10) x (height / 10) records and never holds more
 * (further points are dropped). Never returns null: when memory runs out or the
 * frames are missing, the array holds the terminator alone. Hand it back to
 * LowLevel_ReleaseMotionOffsetTile.
 */
MotionOffsetTile* LowLevel_MotionDetectionTakeDifference(const float* f1, const float* f2, uint8_t* mask,
                                                         int32_t width, int32_t height);

/* Frees an array returned by LowLevel_MotionDetectionTakeDifference (null is fine). */
void LowLevel_ReleaseMotionOffsetTile(MotionOffsetTile* tiles);

/* How unlike the window's upper-left quadrant is to its three neighbouring
 * quadrants, against its own energy. Reads width, height, halfWindow, row and
 * col; 0 when the four quadrants do not lie inside the frame. */
float scoreTileSymmetry(const float* frame, const TileSearchParams* params);

/* Greedy descent over whole-pixel shifts from (0, 0): sets dx, dy and the
 * statistics of the shift found; with a mask, writes the found shift's window
 * bits there. scratch holds (2 x halfWindow)^2 bytes. */
void findBestOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch, TileSearchParams* params);

/* Statistics of the shift (dx, dy) at the point (row, col); all 0 when the
 * shifted window does not fit, or when the point lies closer than
 * 2 x halfWindow to an edge (nothing is read then). scratch holds
 * (2 x halfWindow)^2 bytes. */
void tryCorrelateOffset(const float* f1, const float* f2, uint8_t* mask, uint8_t* scratch,
                        TileSearchParams* params);

/* For qsort: 1 when *a > *b, -1 when *a < *b, otherwise 0 (floats). */
int floatComparator(const void* a, const void* b);

/* Least and greatest of n floats; the first element when n is 1; NaN when
 * there is no element (n < 1 or no array). */
float minArr(const float* values, int32_t n);
float maxArr(const float* values, int32_t n);

#ifdef __cplusplus
}
#endif

#endif
