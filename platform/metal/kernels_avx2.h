#pragma once
// The software GPU's hottest loops compiled for x86 CPUs with AVX2: the
// filtering of a span of texture coordinates (over float and over 8-bit
// texels), the interpolation of two values along a run of pixels and the
// store of bytes. Each does the operations of the plain loop, lane by lane
// in the same order, so its results are the same to the bit.
#include <cstddef>
#include <cstdint>

namespace kv::metal {

struct TexelView;

namespace avx2 {

// Whether the loops below may run: the CPU has the units, and no
// VectorUnitsLimit holds them back.
bool supported();

// TexelView::sampleSpan for `count` pixels of the GPU's own filter.
void filterSpan(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba);
// The same for a view of 8-bit texels: filterBgraAt for each pixel.
void filterBgraSpan(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba);

// For i in [from, count): n = double(i), w_k = start_k + n · step_k, and the
// pixel's two values float((w0·a0 + w1·a1 + w2·a2) · inverseArea) and the
// same with b, stored side by side at out[2i] and out[2i + 1]. Does the
// pixels up to the last whole group of four and answers where it stopped.
size_t interpolatePair(const double start[3], const double step[3], const double a[3], const double b[3],
                       double inverseArea, size_t from, size_t count, float* out);

// The first pixels of `count` RGBA float pixels as BGRA bytes, each value
// as kv::unormByte makes it. Does whole groups of two pixels and answers how
// many it did.
size_t storeBgraBytes(const float* rgba, size_t count, uint8_t* bgra);

}  // namespace avx2
}  // namespace kv::metal
