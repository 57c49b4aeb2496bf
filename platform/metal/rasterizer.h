#pragma once
// The drawing engine of the software GPU. It runs a render pass the way the
// platform's GPUs do, with rules fixed so that every run gives the same
// pixels:
// - positions are divided by w and mapped through the viewport; a triangle
//   with a vertex whose w is not above 0, or whose position is not a number,
//   is dropped;
// - screen positions are clamped to a guard band of ±2^21 pixels and snapped
//   to 1/256 pixel (round to nearest even);
// - a pixel is covered when its centre lies inside the triangle, by exact
//   integer edge functions; a centre on an edge belongs to the triangle only
//   for top and left edges, so triangles sharing an edge cover each pixel once;
// - pixels outside the viewport or the render target are never touched;
// - each value a vertex hands on is interpolated at the pixel centre as
//   float((w0·v0 + w1·v1 + w2·v2) · (1 / area)), in double, from the three
//   integer edge functions w0, w1, w2 and twice the triangle's area;
// - later triangles and later draws overwrite earlier ones; no blending.
// Rows are drawn in parallel on the process's worker pool; each row's covered
// run of a triangle is found exactly and handed to the fragment function in
// pieces of up to 256 pixels. A clear load action clears only the pixels
// the pass's first draw leaves uncovered, as part of that draw, so no pixel
// is written twice.
#include "platform/foundation/result.h"
#include "platform/metal/mtl_command_buffer.h"

namespace kv::metal {

inline constexpr int kSubpixelBits = 8;
inline constexpr double kGuardBandPixels = double(1 << 21);
// More vertices than any draw of this system has; a larger draw fails.
inline constexpr NSUInteger kMaxDrawVertices = NSUInteger(1) << 20;

// Runs the pass onto its colour attachment. Fails, leaving what was drawn
// so far, on a draw without a pipeline state, one whose colour format is not
// the target's, one of a primitive type other than triangles or a triangle
// strip, or one of too many vertices.
Result<void> executeRenderPass(const RenderPass& pass);

}  // namespace kv::metal
