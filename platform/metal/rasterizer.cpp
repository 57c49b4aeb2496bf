#include "platform/metal/rasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

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

// Per-thread room for one span.
struct SpanScratch {
    std::vector<float> varyings;
    std::vector<float> colors;
};

void drawRun(const Triangle& triangle, int64_t y, int64_t first, int64_t end, size_t varyingCount,
             const FragmentFunctionBody& fragment, const ArgumentTable& arguments, const MTLTexture& target,
             SpanScratch& scratch) {
    const size_t count = size_t(end - first);
    scratch.varyings.resize(count * varyingCount);
    scratch.colors.assign(count * 4, 0.0f);
    const int64_t py = y * kSubpixel + kHalfPixel;
    const int64_t px = first * kSubpixel + kHalfPixel;
    std::array<int64_t, 3> w;
    std::array<int64_t, 3> step;
    for (int k = 0; k < 3; ++k) {
        const Edge& edge = triangle.edges[size_t(k)];
        w[size_t(k)] = edge.dx * (py - edge.ay) - edge.dy * (px - edge.ax);
        step[size_t(k)] = -edge.dy * kSubpixel;
    }
    const auto& v = triangle.varyings;
    float* out = scratch.varyings.data();
    for (size_t i = 0; i < count; ++i) {
        const double w0 = double(w[0]);
        const double w1 = double(w[1]);
        const double w2 = double(w[2]);
        for (size_t c = 0; c < varyingCount; ++c) {
            *out++ = float((w0 * double(v[0][c]) + w1 * double(v[1][c]) + w2 * double(v[2][c])) *
                           triangle.inverseArea);
        }
        w[0] += step[0];
        w[1] += step[1];
        w[2] += step[2];
    }
    FragmentSpan span;
    span.x = int32_t(first);
    span.y = int32_t(y);
    span.count = int32_t(count);
    span.varyingCount = varyingCount;
    span.varyings = scratch.varyings.data();
    span.colors = scratch.colors.data();
    fragment(span, arguments);
    const size_t texel = bytesPerTexel(target.pixelFormat());
    storeTexels(target.pixelFormat(), scratch.colors.data(), count, target.row(NSUInteger(y)) + size_t(first) * texel);
}

Result<void> draw(const Draw& command, const DrawState& state, const MTLTexture& target) {
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
    const size_t varyingCount = vertexFunction.varyingCount();

    std::vector<ScreenVertex> vertices(command.vertexCount);
    std::vector<bool> onScreen(command.vertexCount);
    for (size_t i = 0; i < vertices.size(); ++i) {
        const VertexOutput output =
            vertexFunction.vertexBody()(uint32_t(command.vertexStart + i), state.vertexArguments);
        onScreen[i] = toScreen(output, state.viewport, vertices[i]);
    }

    const PixelRect clip = viewportPixels(state.viewport, target.width(), target.height());
    std::vector<Triangle> triangles;
    const bool strip = command.primitiveType == MTLPrimitiveTypeTriangleStrip;
    const size_t stride = strip ? 1 : 3;
    for (size_t i = 0; i + 2 < vertices.size(); i += stride) {
        if (!onScreen[i] || !onScreen[i + 1] || !onScreen[i + 2]) continue;
        Triangle triangle;
        if (setUp(vertices[i], vertices[i + 1], vertices[i + 2], clip, triangle)) triangles.push_back(triangle);
    }
    if (triangles.empty()) return {};

    PixelRect rows = triangles.front().bounds;
    for (const Triangle& triangle : triangles) {
        rows.y0 = std::min(rows.y0, triangle.bounds.y0);
        rows.y1 = std::max(rows.y1, triangle.bounds.y1);
        rows.x0 = std::min(rows.x0, triangle.bounds.x0);
        rows.x1 = std::max(rows.x1, triangle.bounds.x1);
    }
    const FragmentFunctionBody& fragment = state.pipeline->fragmentFunction().fragmentBody();
    [[maybe_unused]] const bool manyPixels = (rows.y1 - rows.y0) * (rows.x1 - rows.x0) > 16384;
#ifdef _OPENMP
#pragma omp parallel if (manyPixels)
#endif
    {
        SpanScratch scratch;
#ifdef _OPENMP
#pragma omp for schedule(dynamic, 4)
#endif
        for (int64_t y = rows.y0; y < rows.y1; ++y) {
            for (const Triangle& triangle : triangles) {
                if (y < triangle.bounds.y0 || y >= triangle.bounds.y1) continue;
                int64_t first;
                int64_t end;
                coveredRun(triangle, y, first, end);
                if (first < end) {
                    drawRun(triangle, y, first, end, varyingCount, fragment, state.fragmentArguments, target,
                            scratch);
                }
            }
        }
    }
    return {};
}

void clear(const MTLTexture& target, const MTLClearColor& color) {
    const float rgba[4] = {float(color.red), float(color.green), float(color.blue), float(color.alpha)};
    const size_t texel = bytesPerTexel(target.pixelFormat());
    std::vector<uint8_t> row(size_t(target.width()) * texel);
    storeTexels(target.pixelFormat(), rgba, 1, row.data());
    for (size_t offset = texel; offset < row.size(); offset += texel) std::memcpy(&row[offset], row.data(), texel);
    const int64_t height = int64_t(target.height());
#ifdef _OPENMP
#pragma omp parallel for schedule(static) if (height * int64_t(target.width()) > 65536)
#endif
    for (int64_t y = 0; y < height; ++y) std::memcpy(target.row(NSUInteger(y)), row.data(), row.size());
}

}  // namespace

Result<void> executeRenderPass(const RenderPass& pass) {
    const std::shared_ptr<MTLTexture>& target = pass.colorAttachment.texture;
    if (!target) return Error{"Render pass without a colour attachment"};
    if (pass.colorAttachment.loadAction == MTLLoadActionClear) clear(*target, pass.colorAttachment.clearColor);

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
                    // copy, so that no row is read while it is written.
                    staging.push_back(std::make_unique<std::vector<float>>());
                    TexelView made = texelView(*source, *staging.back());
                    if (source->iosurface() == target->iosurface() && made.texels != staging.back()->data()) {
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
            Result<void> outcome = draw(*drawCommand, state, *target);
            if (!outcome.ok()) return outcome;
        }
    }
    return {};
}

}  // namespace kv::metal
