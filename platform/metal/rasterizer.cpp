#include "platform/metal/rasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "platform/dispatch/dispatch.h"
#include "platform/metal/kernels_avx2.h"
#include "platform/metal/kernels_avx512.h"

namespace kv::metal {
namespace {

constexpr int64_t kSubpixel = int64_t(1) << kSubpixelBits;
constexpr int64_t kHalfPixel = kSubpixel / 2;

int64_t floorDiv(int64_t a, int64_t b) {  // b > 0
    const int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

int64_t ceilDiv(int64_t a, int64_t b) {  // b > 0
    const int64_t q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

// A vertex on the target in fixed point, with the values it hands on.
struct ScreenVertex {
    int64_t x = 0;
    int64_t y = 0;
    std::array<float, kMaxVaryings> varyings{};
};

int64_t snap(double pixels) {
    const double clamped = std::clamp(pixels, -kGuardBandPixels, kGuardBandPixels);
    return int64_t(std::nearbyint(clamped * double(kSubpixel)));
}

bool toScreen(const VertexOutput& output, const MTLViewport& viewport, ScreenVertex& vertex) {
    const double w = output.position[3];
    if (!(w > 0.0)) return false;
    const double ndcX = double(output.position[0]) / w;
    const double ndcY = double(output.position[1]) / w;
    const double x = viewport.originX + (ndcX + 1.0) * 0.5 * viewport.width;
    const double y = viewport.originY + (1.0 - ndcY) * 0.5 * viewport.height;
    if (std::isnan(x) || std::isnan(y)) return false;
    vertex.x = snap(x);
    vertex.y = snap(y);
    vertex.varyings = output.varyings;
    return true;
}

// w(p) = dx·(p.y − ay) − dy·(p.x − ax): above 0 inside the triangle.
struct Edge {
    int64_t ax = 0;
    int64_t ay = 0;
    int64_t dx = 0;
    int64_t dy = 0;
    int64_t bias = 0;  // 0 for a top or left edge, else 1: w must reach it

    static Edge between(const ScreenVertex& p, const ScreenVertex& q) {
        Edge edge{p.x, p.y, q.x - p.x, q.y - p.y, 0};
        const bool topLeft = (edge.dy == 0 && edge.dx > 0) || edge.dy < 0;
        edge.bias = topLeft ? 0 : 1;
        return edge;
    }
};

// Pixel rectangle, half open.
struct PixelRect {
    int64_t x0 = 0;
    int64_t y0 = 0;
    int64_t x1 = 0;
    int64_t y1 = 0;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

struct Triangle {
    std::array<Edge, 3> edges;  // edge k is opposite vertex k: its w weighs vertex k
    std::array<std::array<float, kMaxVaryings>, 3> varyings;
    double inverseArea = 0;
    PixelRect bounds;
};

// First pixel whose centre is at or past `fixed`, and the first past it.
int64_t firstPixelFrom(int64_t fixed) { return ceilDiv(fixed - kHalfPixel, kSubpixel); }
int64_t pixelAfter(int64_t fixed) { return floorDiv(fixed - kHalfPixel, kSubpixel) + 1; }

bool setUp(ScreenVertex a, ScreenVertex b, ScreenVertex c, const PixelRect& clip, Triangle& triangle) {
    int64_t area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (area == 0) return false;
    if (area < 0) {
        std::swap(b, c);
        area = -area;
    }
    triangle.edges = {Edge::between(b, c), Edge::between(c, a), Edge::between(a, b)};
    triangle.varyings = {a.varyings, b.varyings, c.varyings};
    triangle.inverseArea = 1.0 / double(area);
    triangle.bounds.x0 = std::max(clip.x0, firstPixelFrom(std::min({a.x, b.x, c.x})));
    triangle.bounds.x1 = std::min(clip.x1, pixelAfter(std::max({a.x, b.x, c.x})));
    triangle.bounds.y0 = std::max(clip.y0, firstPixelFrom(std::min({a.y, b.y, c.y})));
    triangle.bounds.y1 = std::min(clip.y1, pixelAfter(std::max({a.y, b.y, c.y})));
    return !triangle.bounds.empty();
}

// The pixels of the target whose centres lie in the viewport.
PixelRect viewportPixels(const MTLViewport& viewport, NSUInteger width, NSUInteger height) {
    const double left = viewport.originX;
    const double top = viewport.originY;
    const double right = left + viewport.width;
    const double bottom = top + viewport.height;
    if (!(viewport.width > 0.0 && viewport.height > 0.0) || std::isnan(right) || std::isnan(bottom)) return {};
    const auto column = [](double edge, NSUInteger size) {
        return int64_t(std::clamp(std::ceil(edge - 0.5), 0.0, double(size)));
    };
    return {column(left, width), column(top, height), column(right, width), column(bottom, height)};
}

// The covered run [first, end) of row `y` within the triangle's bounds.
void coveredRun(const Triangle& triangle, int64_t y, int64_t& first, int64_t& end) {
    first = triangle.bounds.x0;
    end = triangle.bounds.x1;
    const int64_t py = y * kSubpixel + kHalfPixel;
    for (const Edge& edge : triangle.edges) {
        const int64_t rowTerm = edge.dx * (py - edge.ay);
        if (edge.dy == 0) {
            if (rowTerm < edge.bias) end = first;
        } else if (edge.dy > 0) {
            const int64_t lastFixed = edge.ax + floorDiv(rowTerm - edge.bias, edge.dy);
            end = std::min(end, pixelAfter(lastFixed));
        } else {
            const int64_t firstFixed = edge.ax + ceilDiv(edge.bias - rowTerm, -edge.dy);
            first = std::max(first, firstPixelFrom(firstFixed));
        }
    }
}

struct DrawState {
    MTLViewport viewport;
    std::shared_ptr<MTLRenderPipelineState> pipeline;
    ArgumentTable vertexArguments;
    ArgumentTable fragmentArguments;
};

// One texel of the clear colour repeated across a whole row, in the
// target's format; the pixels no triangle of the pass's first draw covers
// are copied from it.
struct ClearRow {
    std::vector<uint8_t> bytes;
    size_t texel = 0;

    ClearRow(const MTLTexture& target, const MTLClearColor& color) : texel(bytesPerTexel(target.pixelFormat())) {
        const float rgba[4] = {float(color.red), float(color.green), float(color.blue), float(color.alpha)};
        bytes.resize(size_t(target.width()) * texel);
        storeTexels(target.pixelFormat(), rgba, 1, bytes.data());
        for (size_t offset = texel; offset < bytes.size(); offset += texel)
            std::memcpy(&bytes[offset], bytes.data(), texel);
    }

    // Clears columns [first, end) of `row`.
    void fill(uint8_t* row, int64_t first, int64_t end) const {
        if (first < end)
            std::memcpy(row + size_t(first) * texel, bytes.data() + size_t(first) * texel, size_t(end - first) * texel);
    }
};

// Pixels handed to the fragment function at once at most: the values and
// colours of one piece stay in the core's nearest cache.
constexpr int64_t kPiecePixels = 256;
// Pixels in one piece of a draw's work on the worker pool: small enough that
// a core taken by other work holds back little of the draw.
constexpr int64_t kPieceOfWork = 8192;

// Per-thread room for the values of one piece, and its colours when the
// target is not stored as float RGBA.
struct PieceScratch {
    std::array<float, kPiecePixels * kMaxVaryings> varyings;
    std::array<float, kPiecePixels * 4> colors;
};

// Edge functions can be carried in double exactly below this bound.
constexpr int64_t kExactInDouble = int64_t(1) << 52;

// The values at `count` consecutive pixels from the one where the three edge
// functions are `w`, each float((w0·v0 + w1·v1 + w2·v2) · (1 / area)) in
// double. Edge functions below 2^52 are stepped in double, where they stay
// exact and the loop runs on vector units; larger ones in integers.
void interpolate(const Triangle& triangle, const std::array<int64_t, 3>& w, const std::array<int64_t, 3>& step,
                 size_t count, size_t varyingCount, float* out) {
    const auto& v = triangle.varyings;
    const double inverseArea = triangle.inverseArea;
    bool exact = true;
    for (int k = 0; k < 3; ++k) {
        const int64_t last = w[size_t(k)] + int64_t(count) * step[size_t(k)];
        exact = exact && std::abs(w[size_t(k)]) < kExactInDouble && std::abs(last) < kExactInDouble;
    }
    if (exact && varyingCount == 2) {
        const double start[3] = {double(w[0]), double(w[1]), double(w[2])};
        const double steps[3] = {double(step[0]), double(step[1]), double(step[2])};
        const double first[3] = {double(v[0][0]), double(v[1][0]), double(v[2][0])};
        const double second[3] = {double(v[0][1]), double(v[1][1]), double(v[2][1])};
        size_t done = 0;
        if (avx512::supported()) done = avx512::interpolatePair(start, steps, first, second, inverseArea, count, out);
        if (avx2::supported()) done = avx2::interpolatePair(start, steps, first, second, inverseArea, done, count, out);
        for (size_t i = done; i < count; ++i) {
            const double n = double(i);
            const double w0 = start[0] + n * steps[0];
            const double w1 = start[1] + n * steps[1];
            const double w2 = start[2] + n * steps[2];
            out[2 * i] = float((w0 * first[0] + w1 * first[1] + w2 * first[2]) * inverseArea);
            out[2 * i + 1] = float((w0 * second[0] + w1 * second[1] + w2 * second[2]) * inverseArea);
        }
        return;
    }
    std::array<int64_t, 3> at = w;
    for (size_t i = 0; i < count; ++i) {
        const double w0 = double(at[0]);
        const double w1 = double(at[1]);
        const double w2 = double(at[2]);
        for (size_t c = 0; c < varyingCount; ++c) {
            *out++ = float((w0 * double(v[0][c]) + w1 * double(v[1][c]) + w2 * double(v[2][c])) * inverseArea);
        }
        at[0] += step[0];
        at[1] += step[1];
        at[2] += step[2];
    }
}

// Draws the covered run [first, end) of row `y`, piece by piece. A float
// RGBA target takes the colours straight into its row; other formats are
// converted from the scratch colours.
void drawRun(const Triangle& triangle, int64_t y, int64_t first, int64_t end, size_t varyingCount,
             const FragmentFunctionBody& fragment, const ArgumentTable& arguments, const MTLTexture& target,
             PieceScratch& scratch) {
    const int64_t py = y * kSubpixel + kHalfPixel;
    const bool direct = target.pixelFormat() == MTLPixelFormatRGBA32Float;
    const size_t texel = bytesPerTexel(target.pixelFormat());
    uint8_t* row = target.row(NSUInteger(y));
    for (int64_t from = first; from < end; from += kPiecePixels) {
        const size_t count = size_t(std::min(end - from, kPiecePixels));
        const int64_t px = from * kSubpixel + kHalfPixel;
        std::array<int64_t, 3> w;
        std::array<int64_t, 3> step;
        for (int k = 0; k < 3; ++k) {
            const Edge& edge = triangle.edges[size_t(k)];
            w[size_t(k)] = edge.dx * (py - edge.ay) - edge.dy * (px - edge.ax);
            step[size_t(k)] = -edge.dy * kSubpixel;
        }
        interpolate(triangle, w, step, count, varyingCount, scratch.varyings.data());
        uint8_t* stored = row + size_t(from) * texel;
        FragmentSpan span;
        span.x = int32_t(from);
        span.y = int32_t(y);
        span.count = int32_t(count);
        span.varyingCount = varyingCount;
        span.varyings = scratch.varyings.data();
        span.colors = direct ? reinterpret_cast<float*>(stored) : scratch.colors.data();
        fragment(span, arguments);
        if (!direct) storeTexels(target.pixelFormat(), scratch.colors.data(), count, stored);
    }
}

// A draw checked and set up: its triangles on the target and the rows they reach.
struct PreparedDraw {
    std::vector<Triangle> triangles;
    PixelRect rows;
};

Result<PreparedDraw> prepare(const Draw& command, const DrawState& state, const MTLTexture& target) {
    if (!state.pipeline) return Error{"Draw without a render pipeline state"};
    if (state.pipeline->colorPixelFormat() != target.pixelFormat()) {
        return Error{"Draw with a pipeline for colour format " + std::to_string(state.pipeline->colorPixelFormat()) +
                     " into a target of format " + std::to_string(target.pixelFormat())};
    }
    if (command.primitiveType != MTLPrimitiveTypeTriangle && command.primitiveType != MTLPrimitiveTypeTriangleStrip) {
        return Error{"Primitive type " + std::to_string(command.primitiveType) + " is not drawn"};
    }
    if (command.vertexCount > kMaxDrawVertices || command.vertexStart > kMaxDrawVertices) {
        return Error{"Draw of " + std::to_string(command.vertexCount) + " vertices is too large"};
    }
    const MTLFunction& vertexFunction = state.pipeline->vertexFunction();

    std::vector<ScreenVertex> vertices(command.vertexCount);
    std::vector<bool> onScreen(command.vertexCount);
    for (size_t i = 0; i < vertices.size(); ++i) {
        const VertexOutput output =
            vertexFunction.vertexBody()(uint32_t(command.vertexStart + i), state.vertexArguments);
        onScreen[i] = toScreen(output, state.viewport, vertices[i]);
    }

    PreparedDraw prepared;
    const PixelRect clip = viewportPixels(state.viewport, target.width(), target.height());
    const bool strip = command.primitiveType == MTLPrimitiveTypeTriangleStrip;
    const size_t stride = strip ? 1 : 3;
    for (size_t i = 0; i + 2 < vertices.size(); i += stride) {
        if (!onScreen[i] || !onScreen[i + 1] || !onScreen[i + 2]) continue;
        Triangle triangle;
        if (setUp(vertices[i], vertices[i + 1], vertices[i + 2], clip, triangle))
            prepared.triangles.push_back(triangle);
    }
    if (prepared.triangles.empty()) return prepared;
    prepared.rows = prepared.triangles.front().bounds;
    for (const Triangle& triangle : prepared.triangles) {
        prepared.rows.y0 = std::min(prepared.rows.y0, triangle.bounds.y0);
        prepared.rows.y1 = std::max(prepared.rows.y1, triangle.bounds.y1);
        prepared.rows.x0 = std::min(prepared.rows.x0, triangle.bounds.x0);
        prepared.rows.x1 = std::max(prepared.rows.x1, triangle.bounds.x1);
    }
    return prepared;
}

// Runs a prepared draw, rows in parallel. With a clear row given (the pass's
// first draw after a clear load action), every row of the target is visited
// and the pixels that no triangle covers are cleared, so that no pixel is
// written twice.
void run(const PreparedDraw& draw, const DrawState& state, const MTLTexture& target, const ClearRow* clear) {
    const PixelRect& rows = draw.rows;
    const int64_t top = clear ? 0 : rows.y0;
    const int64_t bottom = clear ? int64_t(target.height()) : rows.y1;
    if (top >= bottom) return;
    const size_t varyingCount = state.pipeline->vertexFunction().varyingCount();
    const FragmentFunctionBody& fragment = state.pipeline->fragmentFunction().fragmentBody();
    const int64_t width = clear ? int64_t(target.width()) : rows.x1 - rows.x0;
    const size_t rowCount = size_t(bottom - top);
    // Small draws stay on one thread.
    const size_t rowsPerPiece = std::clamp<size_t>(size_t(kPieceOfWork / std::max<int64_t>(width, 1)), 1, 64);
    const size_t grain = int64_t(rowCount) * width > 2 * kPieceOfWork ? rowsPerPiece : rowCount;
    dispatch::concurrentPerform(rowCount, grain, [&](size_t begin, size_t end) {
        thread_local PieceScratch scratch;
        // The covered runs of one row, in triangle order, and sorted by start.
        struct Run {
            int64_t first, end;
            const Triangle* triangle;
        };
        std::vector<Run> runs;
        std::vector<Run> byStart;
        for (int64_t y = top + int64_t(begin); y < top + int64_t(end); ++y) {
            runs.clear();
            for (const Triangle& triangle : draw.triangles) {
                if (y < triangle.bounds.y0 || y >= triangle.bounds.y1) continue;
                Run run{0, 0, &triangle};
                coveredRun(triangle, y, run.first, run.end);
                if (run.first < run.end) runs.push_back(run);
            }
            if (clear) {
                byStart = runs;
                std::sort(byStart.begin(), byStart.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
                uint8_t* row = target.row(NSUInteger(y));
                int64_t cleared = 0;
                for (const Run& run : byStart) {
                    clear->fill(row, cleared, run.first);
                    cleared = std::max(cleared, run.end);
                }
                clear->fill(row, cleared, int64_t(target.width()));
            }
            for (const Run& run : runs) {
                drawRun(*run.triangle, y, run.first, run.end, varyingCount, fragment, state.fragmentArguments, target,
                        scratch);
            }
        }
    });
}

void clearAll(const MTLTexture& target, const ClearRow& clear) {
    const size_t height = size_t(target.height());
    const size_t grain = std::max<size_t>(16384 / std::max<size_t>(target.width(), 1), 1);
    dispatch::concurrentPerform(height, height * target.width() > 65536 ? grain : height,
                                [&](size_t begin, size_t end) {
                                    for (size_t y = begin; y < end; ++y)
                                        clear.fill(target.row(NSUInteger(y)), 0, int64_t(target.width()));
                                });
}

}  // namespace

Result<void> executeRenderPass(const RenderPass& pass) {
    const std::shared_ptr<MTLTexture>& target = pass.colorAttachment.texture;
    if (!target) return Error{"Render pass without a colour attachment"};
    // A clear is done together with the first draw, on the pixels that draw
    // leaves uncovered; it is done on its own before anything reads the
    // target, when a draw fails, or when the pass draws nothing.
    std::optional<ClearRow> pendingClear;
    if (pass.colorAttachment.loadAction == MTLLoadActionClear) pendingClear.emplace(*target, pass.colorAttachment.clearColor);
    const auto clearNow = [&] {
        if (pendingClear) clearAll(*target, *pendingClear);
        pendingClear.reset();
    };

    DrawState state;
    state.viewport = MTLViewport{0.0, 0.0, double(target->width()), double(target->height()), 0.0, 1.0};
    // Texture views live for the whole pass; a texture is converted once.
    std::map<const MTLTexture*, TexelView> views;
    std::vector<std::unique_ptr<std::vector<float>>> staging;
    for (const RenderCommand& command : pass.commands) {
        if (const auto* viewport = std::get_if<SetViewport>(&command)) {
            state.viewport = viewport->viewport;
        } else if (const auto* pipeline = std::get_if<SetPipelineState>(&command)) {
            state.pipeline = pipeline->state;
        } else if (const auto* bytes = std::get_if<SetBytes>(&command)) {
            ArgumentTable& table =
                bytes->stage == MTLFunctionTypeVertex ? state.vertexArguments : state.fragmentArguments;
            table.setBytes(bytes->index, bytes->bytes);
        } else if (const auto* texture = std::get_if<SetTexture>(&command)) {
            if (texture->stage != MTLFunctionTypeFragment) continue;
            const TexelView* view = nullptr;
            if (const MTLTexture* source = texture->texture.get()) {
                auto found = views.find(source);
                if (found == views.end()) {
                    // A texture over the target's own surface is read from a
                    // copy, so that no row is read while it is written, and
                    // reads the target as cleared.
                    const bool ofTarget = source->iosurface() == target->iosurface();
                    if (ofTarget) clearNow();
                    staging.push_back(std::make_unique<std::vector<float>>());
                    TexelView made = texelView(*source, *staging.back());
                    if (ofTarget && made.bgra) {
                        // The bytes copied into the staging floats' memory.
                        const size_t byteCount = made.rowBytes * size_t(made.height);
                        staging.back()->resize((byteCount + sizeof(float) - 1) / sizeof(float));
                        std::memcpy(staging.back()->data(), made.bgra, byteCount);
                        made.bgra = reinterpret_cast<const uint8_t*>(staging.back()->data());
                    } else if (ofTarget && made.texels != staging.back()->data()) {
                        const size_t floats = made.rowStride * size_t(made.height);
                        staging.back()->assign(made.texels, made.texels + floats);
                        made.texels = staging.back()->data();
                    }
                    found = views.emplace(source, made).first;
                }
                view = &found->second;
            }
            state.fragmentArguments.setTexture(texture->index, view);
        } else if (const auto* drawCommand = std::get_if<Draw>(&command)) {
            Result<PreparedDraw> prepared = prepare(*drawCommand, state, *target);
            if (!prepared.ok()) {
                clearNow();
                return prepared.error();
            }
            if (prepared->triangles.empty()) continue;
            run(*prepared, state, *target, pendingClear ? &*pendingClear : nullptr);
            pendingClear.reset();
        }
    }
    clearNow();
    return {};
}

}  // namespace kv::metal
