#pragma once
// Loops of kernels_avx2.h for x86 CPUs with AVX-512, twice as wide: the
// filtering of a span over 8-bit texels, the interpolation of two values
// and the store of bytes. Each does the operations of the plain loop, lane by
// lane in the same order, so its results are the same to the bit; each does
// whole groups and leaves the rest to the narrower loops.
#include <cstddef>
#include <cstdint>

namespace kv::metal {

struct TexelView;

namespace avx512 {

// Whether the loops below may run: the CPU has the units, and no
// VectorUnitsLimit holds them back.
bool supported();

// TexelView::sampleSpan over 8-bit texels for the pixels of `count` up to
// the last whole group of sixteen; answers how many it did.
int32_t filterBgraSpan(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba);

// avx2::interpolatePair from pixel 0 up to the last whole group of eight;
// answers how many it did.
size_t interpolatePair(const double start[3], const double step[3], const double a[3], const double b[3],
                       double inverseArea, size_t count, float* out);

// avx2::storeBgraBytes for whole groups of four pixels; answers how many it did.
size_t storeBgraBytes(const float* rgba, size_t count, uint8_t* bgra);

}  // namespace avx512
}  // namespace kv::metal
