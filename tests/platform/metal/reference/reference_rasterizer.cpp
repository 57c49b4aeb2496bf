#include "reference_rasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

namespace kv::test {
namespace {

using metal::ArgumentTable;
using metal::FragmentSpan;
using metal::TexelView;
using metal::VertexOutput;

// The byte of a BGRA texel each of R, G, B, A sits at.
constexpr int kByteOfChannel[4] = {2, 1, 0, 3};

float readChannel(MTLPixelFormat format, const uint8_t* texel, int channel) {
    if (format == MTLPixelFormatRGBA32Float) {
        float value;
        std::memcpy(&value, texel + channel * 4, 4);
        return value;
    }
    if (format == MTLPixelFormatRGBA16Float) {
        _Float16 value;
        std::memcpy(&value, texel + channel * 2, 2);
        return float(value);
    }
    return float(texel[kByteOfChannel[channel]]) / 255.0f;
}

void writePixel(MTLPixelFormat format, const float rgba[4], uint8_t* texel) {
    for (int channel = 0; channel < 4; ++channel) {
        const float value = rgba[channel];
        if (format == MTLPixelFormatRGBA32Float) {
            std::memcpy(texel + channel * 4, &value, 4);
        } else if (format == MTLPixelFormatRGBA16Float) {
            const _Float16 half = _Float16(value);
            std::memcpy(texel + channel * 2, &half, 2);
        } else {
            uint8_t byte = 0;
            if (value >= 1.0f) {
                byte = 255;
            } else if (value > 0.0f) {
                byte = uint8_t(std::nearbyint(value * 255.0f));
            }
            texel[kByteOfChannel[channel]] = byte;
        }
    }
}

// Each pixel's coordinates to `inside`, or transparent black outside.
template <class Inside>
void eachPixel(const float* coordinates, size_t stride, int32_t count, float* rgba, Inside inside) {
    for (int32_t i = 0; i < count; ++i) {
        const float u = coordinates[size_t(i) * stride];
        const float v = coordinates[size_t(i) * stride + 1];
        float* out = rgba + size_t(i) * 4;
        if (!(u >= 0.0f && u <= 1.0f) || !(v >= 0.0f && v <= 1.0f)) {
            for (int channel = 0; channel < 4; ++channel) out[channel] = 0.0f;
        } else {
            inside(u, v, out);
        }
    }
}

// Bilinear filtering one pixel at a time, as a sampler with clamp-to-edge
// addressing filters: a coordinate outside 0...1 (or not a number) gives
// transparent black; inside, the position in texels is held between the
// outermost texel centres, so that the strip between them and the edge shows
// the edge texel itself, and each tap past the last texel reads the last.
void referenceFilter(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba) {
    eachPixel(coordinates, stride, count, rgba, [&view](float u, float v, float* out) {
        float x = u * float(view.width) - 0.5f;
        float y = v * float(view.height) - 0.5f;
        if (x < 0.0f) x = 0.0f;
        if (x > float(view.width - 1)) x = float(view.width - 1);
        if (y < 0.0f) y = 0.0f;
        if (y > float(view.height - 1)) y = float(view.height - 1);
        const int32_t left = int32_t(std::floor(x));
        const int32_t top = int32_t(std::floor(y));
        const int32_t right = std::min(left + 1, view.width - 1);
        const int32_t bottom = std::min(top + 1, view.height - 1);
        const float fx = x - float(left);
        const float fy = y - float(top);
        const auto texel = [&](int32_t tx, int32_t ty, int channel) {
            return view.texels[size_t(ty) * view.rowStride + size_t(tx) * 4 + size_t(channel)];
        };
        for (int channel = 0; channel < 4; ++channel) {
            const float upper = texel(left, top, channel) * (1.0f - fx) + texel(right, top, channel) * fx;
            const float lower = texel(left, bottom, channel) * (1.0f - fx) + texel(right, bottom, channel) * fx;
            out[channel] = upper * (1.0f - fy) + lower * fy;
        }
    });
}

// An 8-bit texture's filter, in its fixed point: each texel's byte in 1/128
// steps, the fractions as weights in 1/32768, and each pair's weighting
// rounded half up, first across, then down, from a texel pair that starts
// no further than the next-to-last column and row.
void referenceBgraFilter(const TexelView& view, const float* coordinates, size_t stride, int32_t count, float* rgba) {
    eachPixel(coordinates, stride, count, rgba, [&view](float u, float v, float* out) {
        const float x = std::clamp(u * float(view.width) - 0.5f, 0.0f, float(view.width - 1));
        const float y = std::clamp(v * float(view.height) - 0.5f, 0.0f, float(view.height - 1));
        const int32_t left = std::min(int32_t(std::floor(x)), view.width - 2);
        const int32_t top = std::min(int32_t(std::floor(y)), view.height - 2);
        const auto weight = [](float fraction) {
            return std::min(std::nearbyint(double(fraction) * 32768.0), 32767.0);
        };
        const double wx = weight(x - float(left));
        const double wy = weight(y - float(top));
        const auto between = [](double a, double b, double w) { return a + std::floor((b - a) * w / 32768.0 + 0.5); };
        for (int channel = 0; channel < 4; ++channel) {
            const auto texel = [&](int32_t tx, int32_t ty) {
                return 128.0 * view.bgra[size_t(ty) * view.rowBytes + size_t(tx) * 4 + size_t(kByteOfChannel[channel])];
            };
            const double upper = between(texel(left, top), texel(left + 1, top), wx);
            const double lower = between(texel(left, top + 1), texel(left + 1, top + 1), wx);
            out[channel] = float(between(upper, lower, wy)) * (1.0f / (255.0f * 128.0f));
        }
    });
}

struct Point {
    bool valid = false;
    int64_t x = 0;
    int64_t y = 0;
    std::array<float, metal::kMaxVaryings> varyings{};
};

Point onScreen(const VertexOutput& output, const MTLViewport& viewport) {
    Point point;
    const double w = output.position[3];
    if (!(w > 0.0)) return point;
    const double x = viewport.originX + (double(output.position[0]) / w + 1.0) * 0.5 * viewport.width;
    const double y = viewport.originY + (1.0 - double(output.position[1]) / w) * 0.5 * viewport.height;
    if (std::isnan(x) || std::isnan(y)) return point;
    const double band = metal::kGuardBandPixels;
    point.x = int64_t(std::nearbyint(std::clamp(x, -band, band) * 256.0));
    point.y = int64_t(std::nearbyint(std::clamp(y, -band, band) * 256.0));
    point.varyings = output.varyings;
    point.valid = true;
    return point;
}

int64_t edgeFunction(const Point& from, const Point& to, int64_t px, int64_t py) {
    return (to.x - from.x) * (py - from.y) - (to.y - from.y) * (px - from.x);
}

bool ownsCentresOn(const Point& from, const Point& to) {
    const int64_t dx = to.x - from.x;
    const int64_t dy = to.y - from.y;
    return (dy == 0 && dx > 0) || dy < 0;
}

struct Target {
    const MTLTexture& texture;
    std::vector<uint8_t>& pixels;
    size_t texelBytes;
    uint8_t* at(int64_t x, int64_t y) const {
        return pixels.data() + (size_t(y) * texture.width() + size_t(x)) * texelBytes;
    }
};

void drawTriangle(Point a, Point b, Point c, const metal::RenderPass&, const MTLViewport& viewport,
                  const MTLRenderPipelineState& pipeline, const ArgumentTable& fragmentArguments,
                  const Target& target) {
    int64_t area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (area == 0) return;
    if (area < 0) {
        std::swap(b, c);
        area = -area;
    }
    const size_t varyingCount = pipeline.vertexFunction().varyingCount();
    for (int64_t y = 0; y < int64_t(target.texture.height()); ++y) {
        for (int64_t x = 0; x < int64_t(target.texture.width()); ++x) {
            const double centreX = double(x) + 0.5;
            const double centreY = double(y) + 0.5;
            if (!(centreX >= viewport.originX && centreX < viewport.originX + viewport.width &&
                  centreY >= viewport.originY && centreY < viewport.originY + viewport.height)) {
                continue;
            }
            const int64_t px = x * 256 + 128;
            const int64_t py = y * 256 + 128;
            const int64_t w0 = edgeFunction(b, c, px, py);
            const int64_t w1 = edgeFunction(c, a, px, py);
            const int64_t w2 = edgeFunction(a, b, px, py);
            if (w0 < (ownsCentresOn(b, c) ? 0 : 1) || w1 < (ownsCentresOn(c, a) ? 0 : 1) ||
                w2 < (ownsCentresOn(a, b) ? 0 : 1)) {
                continue;
            }
            std::array<float, metal::kMaxVaryings> varyings{};
            for (size_t k = 0; k < varyingCount; ++k) {
                varyings[k] = float((double(w0) * double(a.varyings[k]) + double(w1) * double(b.varyings[k]) +
                                     double(w2) * double(c.varyings[k])) *
                                    (1.0 / double(area)));
            }
            float color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            FragmentSpan span;
            span.x = int32_t(x);
            span.y = int32_t(y);
            span.count = 1;
            span.varyingCount = varyingCount;
            span.varyings = varyings.data();
            span.colors = color;
            pipeline.fragmentFunction().fragmentBody()(span, fragmentArguments);
            writePixel(target.texture.pixelFormat(), color, target.at(x, y));
        }
    }
}

}  // namespace

std::vector<uint8_t> packedPixels(const MTLTexture& texture) {
    const size_t rowBytes = size_t(texture.width()) * metal::bytesPerTexel(texture.pixelFormat());
    std::vector<uint8_t> pixels(rowBytes * texture.height());
    for (NSUInteger y = 0; y < texture.height(); ++y) std::memcpy(&pixels[y * rowBytes], texture.row(y), rowBytes);
    return pixels;
}

std::vector<uint8_t> referenceRender(const metal::RenderPass& pass, std::vector<uint8_t> before) {
    const MTLTexture& texture = *pass.colorAttachment.texture;
    const Target target{texture, before, metal::bytesPerTexel(texture.pixelFormat())};
    if (pass.colorAttachment.loadAction == MTLLoadActionClear) {
        const MTLClearColor& clear = pass.colorAttachment.clearColor;
        const float color[4] = {float(clear.red), float(clear.green), float(clear.blue), float(clear.alpha)};
        for (int64_t y = 0; y < int64_t(texture.height()); ++y) {
            for (int64_t x = 0; x < int64_t(texture.width()); ++x) writePixel(texture.pixelFormat(), color, target.at(x, y));
        }
    }
    MTLViewport viewport{0.0, 0.0, double(texture.width()), double(texture.height()), 0.0, 1.0};
    std::shared_ptr<MTLRenderPipelineState> pipeline;
    ArgumentTable vertexArguments;
    ArgumentTable fragmentArguments;
    std::vector<std::unique_ptr<std::vector<float>>> texels;
    std::vector<std::unique_ptr<std::vector<uint8_t>>> bytes;
    std::vector<std::unique_ptr<TexelView>> views;
    for (const metal::RenderCommand& command : pass.commands) {
        if (const auto* setViewport = std::get_if<metal::SetViewport>(&command)) {
            viewport = setViewport->viewport;
        } else if (const auto* setPipeline = std::get_if<metal::SetPipelineState>(&command)) {
            pipeline = setPipeline->state;
        } else if (const auto* setBytes = std::get_if<metal::SetBytes>(&command)) {
            (setBytes->stage == MTLFunctionTypeVertex ? vertexArguments : fragmentArguments)
                .setBytes(setBytes->index, setBytes->bytes);
        } else if (const auto* set = std::get_if<metal::SetTexture>(&command)) {
            if (set->stage != MTLFunctionTypeFragment) continue;
            const MTLTexture* source = set->texture.get();
            if (!source) {
                fragmentArguments.setTexture(set->index, nullptr);
                continue;
            }
            // A texture over the target's own surface holds the target's
            // pixels as they stand now, not as the fast path left them.
            const bool isTarget = source->iosurface() && source->iosurface() == texture.iosurface();
            const auto texelAt = [&](NSUInteger x, NSUInteger y) -> const uint8_t* {
                if (isTarget) return target.at(int64_t(x), int64_t(y));
                return source->row(y) + x * metal::bytesPerTexel(source->pixelFormat());
            };
            const MTLPixelFormat format = isTarget ? texture.pixelFormat() : source->pixelFormat();
            const NSUInteger width = isTarget ? texture.width() : source->width();
            const NSUInteger height = isTarget ? texture.height() : source->height();
            if (format == MTLPixelFormatBGRA8Unorm && width >= 2 && height >= 2) {
                auto copy = std::make_unique<std::vector<uint8_t>>();
                for (NSUInteger y = 0; y < height; ++y) {
                    for (NSUInteger x = 0; x < width; ++x) copy->insert(copy->end(), texelAt(x, y), texelAt(x, y) + 4);
                }
                TexelView view{nullptr, 0, int32_t(width), int32_t(height), referenceBgraFilter};
                view.bgra = copy->data();
                view.rowBytes = size_t(width) * 4;
                views.push_back(std::make_unique<TexelView>(view));
                bytes.push_back(std::move(copy));
                fragmentArguments.setTexture(set->index, views.back().get());
                continue;
            }
            auto copy = std::make_unique<std::vector<float>>();
            for (NSUInteger y = 0; y < height; ++y) {
                for (NSUInteger x = 0; x < width; ++x) {
                    for (int channel = 0; channel < 4; ++channel) {
                        copy->push_back(readChannel(format, texelAt(x, y), channel));
                    }
                }
            }
            views.push_back(std::make_unique<TexelView>(
                TexelView{copy->data(), size_t(width) * 4, int32_t(width), int32_t(height), referenceFilter}));
            texels.push_back(std::move(copy));
            fragmentArguments.setTexture(set->index, views.back().get());
        } else if (const auto* draw = std::get_if<metal::Draw>(&command)) {
            // The first draw the rules reject ends the pass.
            const bool strip = draw->primitiveType == MTLPrimitiveTypeTriangleStrip;
            if (!pipeline || pipeline->colorPixelFormat() != texture.pixelFormat() ||
                (!strip && draw->primitiveType != MTLPrimitiveTypeTriangle) ||
                draw->vertexCount > metal::kMaxDrawVertices || draw->vertexStart > metal::kMaxDrawVertices) {
                return before;
            }
            std::vector<Point> points;
            for (NSUInteger i = 0; i < draw->vertexCount; ++i) {
                points.push_back(onScreen(
                    pipeline->vertexFunction().vertexBody()(uint32_t(draw->vertexStart + i), vertexArguments), viewport));
            }
            for (size_t i = 0; i + 2 < points.size(); i += strip ? 1 : 3) {
                if (points[i].valid && points[i + 1].valid && points[i + 2].valid) {
                    drawTriangle(points[i], points[i + 1], points[i + 2], pass, viewport, *pipeline,
                                 fragmentArguments, target);
                }
            }
        }
    }
    return before;
}

}  // namespace kv::test
