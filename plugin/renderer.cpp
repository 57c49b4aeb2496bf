// The render of one frame: the reframed source drawn into the destination
// through the crop window of the frame's state, the requested outlines over
// it, and the usage counts.
#include "plugin/renderer.h"

#include <cstdint>
#include <limits>
#include <string>

#include "analysis/bounds_geometry.h"
#include "analysis/plugin_state.h"
#include "analysis/reframing.h"
#include "platform/coregraphics/cgrect.h"
#include "platform/foundation/date.h"
#include "platform/foundation/log.h"
#include "platform/metal/metal.h"
#include "plugin/kestrelvantage_plugin.h"
#include "plugin/metal_device_cache.h"

namespace kv {

MTLPixelFormat renderPixelFormat(OSType surfacePixelFormat) {
    if (surfacePixelFormat == fourCharCode("BGRA")) return MTLPixelFormatBGRA8Unorm;
    if (surfacePixelFormat == fourCharCode("RGfA")) return MTLPixelFormatRGBA32Float;
    return MTLPixelFormatRGBA16Float;
}

std::array<RenderVertex, 24> makeOutlineVertices(int32_t width, int32_t height, float x0, float y0, float x1,
                                                 float y1, float thickness) {
    const float w = float(width);
    const float h = float(height);
    const float negativeHalfWidth = float(-int64_t(width)) * 0.5f;
    const auto X = [&](float x) { return w * x + negativeHalfWidth; };
    const auto Y = [&](float y) { return h * 0.5f - h * y; };
    const float half = thickness * 0.5f;

    std::array<RenderVertex, 24> vertices;
    size_t next = 0;
    const auto bar = [&](float xa, float xb, float ya, float yb) {
        vertices[next++] = {{xb, ya}, {1.0f, 1.0f}};
        vertices[next++] = {{xa, ya}, {0.0f, 1.0f}};
        vertices[next++] = {{xb, yb}, {1.0f, 0.0f}};
        vertices[next++] = {{xa, ya}, {0.0f, 1.0f}};
        vertices[next++] = {{xb, yb}, {1.0f, 0.0f}};
        vertices[next++] = {{xa, yb}, {0.0f, 0.0f}};
    };
    bar(X(x0) - half, X(x1) + half, Y(y1) - half, Y(y1) + half);
    bar(X(x0) - half, X(x1) + half, Y(y0) - half, Y(y0) + half);
    bar(X(x0) - half, X(x0) + half, Y(y1) - half, Y(y0) + half);
    bar(X(x1) - half, X(x1) + half, Y(y1) - half, Y(y0) + half);
    return vertices;
}

namespace {

struct Color {
    float red, green, blue, alpha;
};
constexpr Color kGreen{0.0f, 1.0f, 0.0f, 1.0f};
constexpr Color kBlue{0.0f, 0.0f, 1.0f, 1.0f};
constexpr Color kGrey{0.5f, 0.5f, 0.5f, 1.0f};
constexpr Color kYellow{1.0f, 1.0f, 0.0f, 1.0f};
constexpr Color kOrange{1.0f, 0.5f, 0.0f, 1.0f};

// A window in normalised source coordinates.
struct Window {
    double x0, y0, x1, y1;
};

// Width and height of a tile; wraps as the platform's 32-bit arithmetic
// would rather than overflow.
std::pair<int32_t, int32_t> tileSize(const FxRect& tile) {
    return {int32_t(int64_t(tile.right) - tile.left), int32_t(int64_t(tile.top) - tile.bottom)};
}

// The part of `window` with the target aspect ratio, centred in it.
Window targetAspectPart(const Window& window, const FrameConfig& config, double sourceAspect) {
    const double targetAspect = config.aspectRatioWidth / config.aspectRatioHeight;
    double w = window.x1 - window.x0;
    double h = window.y1 - window.y0;
    if (targetAspect >= sourceAspect) {
        h = sourceAspect * h / targetAspect;
    } else {
        w = w * targetAspect / sourceAspect;
    }
    const double centerX = (window.x0 + window.x1) * 0.5;
    const double centerY = (window.y0 + window.y1) * 0.5;
    return {centerX - w * 0.5, centerY - h * 0.5, centerX + w * 0.5, centerY + h * 0.5};
}

template <class T>
void setVertexValue(MTLRenderCommandEncoder& encoder, const T& value, NSUInteger index) {
    encoder.setVertexBytes(&value, sizeof(T), index);
}

template <class T>
void setFragmentValue(MTLRenderCommandEncoder& encoder, const T& value, NSUInteger index) {
    encoder.setFragmentBytes(&value, sizeof(T), index);
}

// Draws one outline of `window` in `color`.
void drawOutline(MTLRenderCommandEncoder& encoder, int32_t width, int32_t height, const Window& window,
                 const Color& color, float thickness) {
    const auto vertices = makeOutlineVertices(width, height, float(window.x0), float(window.y0), float(window.x1),
                                              float(window.y1), thickness);
    setFragmentValue(encoder, uint16_t(DrawingMode::fill), kFragmentArgumentDrawingMode);
    setFragmentValue(encoder, color, kFragmentArgumentColor);
    encoder.setVertexBytes(vertices.data(), sizeof(vertices), kVertexArgumentVertices);
    encoder.drawPrimitives(MTLPrimitiveTypeTriangle, 0, vertices.size());
}

// A queue taken from the cache, given back at the latest when the render
// leaves, on every path.
class QueueLoan {
public:
    QueueLoan(MetalDeviceCache& cache, std::shared_ptr<MTLCommandQueue> queue)
        : cache_(cache), queue_(std::move(queue)) {}
    ~QueueLoan() { giveBack(); }
    QueueLoan(const QueueLoan&) = delete;
    QueueLoan& operator=(const QueueLoan&) = delete;

    bool holds() const { return queue_ != nullptr; }
    MTLCommandQueue& queue() const { return *queue_; }
    void giveBack() {
        if (queue_) cache_.returnCommandQueue(queue_);
        queue_.reset();
    }

private:
    MetalDeviceCache& cache_;
    std::shared_ptr<MTLCommandQueue> queue_;
};

// An enqueued command buffer holds its queue's place in line: a render that
// stops before committing it commits it empty, so that the queue, back in the
// pool, does not stall every later frame behind it.
class EnqueuedBuffer {
public:
    explicit EnqueuedBuffer(std::shared_ptr<MTLCommandBuffer> buffer) : buffer_(std::move(buffer)) {
        buffer_->enqueue();
    }
    ~EnqueuedBuffer() {
        if (committed_) return;
        if (encoder_) encoder_->endEncoding();
        buffer_->commit();
    }
    EnqueuedBuffer(const EnqueuedBuffer&) = delete;
    EnqueuedBuffer& operator=(const EnqueuedBuffer&) = delete;

    void encodingWith(std::shared_ptr<MTLRenderCommandEncoder> encoder) { encoder_ = std::move(encoder); }
    void committed() { committed_ = true; }

private:
    std::shared_ptr<MTLCommandBuffer> buffer_;
    std::shared_ptr<MTLRenderCommandEncoder> encoder_;
    bool committed_ = false;
};

}  // namespace

bool KestrelvantagePlugIn::destinationImageRect(FxRect* destinationImageRect, const FxImageTiles&,
                                                const FxImageTile& destinationImage, const NSData*, CMTime,
                                                NSError*) {
    if (destinationImageRect) *destinationImageRect = destinationImage.imagePixelBounds();
    return true;
}

bool KestrelvantagePlugIn::sourceTileRect(FxRect* sourceTileRect, uint32_t, const FxImageTiles&,
                                          FxRect destinationTileRect, const FxImageTile&, const NSData*, CMTime,
                                          NSError*) {
    if (sourceTileRect) *sourceTileRect = destinationTileRect;
    return true;
}

bool KestrelvantagePlugIn::renderDestinationImage(const FxImageTile& destinationImage,
                                                  const FxImageTiles& sourceImages, const NSData* pluginState,
                                                  CMTime renderTime, NSError* error) {
    const Result<void> rendered = renderDestinationImage(destinationImage, sourceImages, pluginState, renderTime);
    return rendered.ok() ? true : reportError(rendered.error(), error);
}

Result<void> KestrelvantagePlugIn::renderDestinationImage(const FxImageTile& destinationImage,
                                                          const FxImageTiles& sourceImages,
                                                          const NSData* pluginState, CMTime renderTime) {
    const NSDate startDate = NSDate::date();
    if (!pluginState) {
        NSLog("No plugin state; not rendering");
        return {};
    }
    Result<PluginState> decoded = decodePluginStateText(textFromData(*pluginState));
    if (!decoded.ok()) return decoded.error();
    const PluginState& state = *decoded;

    // What the host must hand in for a frame to be drawn at all.
    if (sourceImages.empty() || !sourceImages.front()) return Error{"Render: no source image"};
    const FxImageTile& source = *sourceImages.front();
    if (!destinationImage.ioSurface()) return Error{"Render: the destination image has no surface"};
    if (!source.pixelTransform()) return Error{"Render: the source image has no pixel transform"};

    MetalDeviceCache& cache = MetalDeviceCache::shared();
    const MTLPixelFormat pixelFormat = renderPixelFormat(destinationImage.ioSurface()->pixelFormat());
    QueueLoan loan(cache, cache.commandQueue(source.deviceRegistryID(), pixelFormat));
    if (!loan.holds()) return Error{"Render: no free command queue for the GPU and pixel format"};
    const std::shared_ptr<MTLCommandBuffer> commandBuffer = loan.queue().commandBuffer();
    if (!commandBuffer) return Error{"Render: no command buffer"};
    commandBuffer->label = "Kestrelvantage Command Buffer";
    EnqueuedBuffer inLine(commandBuffer);

    const auto sourceTexture = source.metalTextureForDevice(cache.device(source.deviceRegistryID()));
    const auto destinationTexture =
        destinationImage.metalTextureForDevice(cache.device(destinationImage.deviceRegistryID()));
    if (!sourceTexture || !destinationTexture) return Error{"Render: no texture for an image's GPU"};

    MTLRenderPassColorAttachmentDescriptor colorAttachment;
    colorAttachment.texture = destinationTexture;
    colorAttachment.clearColor = MTLClearColorMake(1.0, 0.5, 0.0, 1.0);
    colorAttachment.loadAction = MTLLoadActionClear;
    MTLRenderPassDescriptor renderPass;
    renderPass.colorAttachments[0] = colorAttachment;
    const std::shared_ptr<MTLRenderCommandEncoder> encoder =
        commandBuffer->renderCommandEncoderWithDescriptor(renderPass);
    if (!encoder) return Error{"Render: no render command encoder"};
    inLine.encodingWith(encoder);

    const auto [sourceWidth, sourceHeight] = tileSize(source.tilePixelBounds());
    const double sourceAspect = double(sourceWidth) / double(sourceHeight);

    // The crop window, then blended with the whole frame by the frame mix.
    double cropX = 0.5;
    double cropY = 0.5;
    double cropScale = 1.0;
    const std::vector<Bounds>& processed = state.processedBounds.bounds;
    if (!processed.empty() && !isEmpty(processed.front())) {
        const CropFrame crop = cropFrame(renderTime, sourceAspect, processed.front(), state.config);
        cropX = crop.centerX;
        cropY = crop.centerY;
        cropScale = crop.scale;
    }
    const double mix = state.frameMix;
    const double blendX = cropX * mix + (1.0 - mix) * 0.5;
    const double blendY = cropY * mix + (1.0 - mix) * 0.5;
    const double blendScale = (1.0 - mix) + cropScale * mix;

    // The part of the source the image quad shows: the blended window in
    // the normal view, the whole frame otherwise.
    const bool reframed = state.enable && state.renderMode == RenderMode::Normal;
    const float windowX = reframed ? float(blendX) : 0.5f;
    const float windowY = reframed ? float(blendY) : 0.5f;
    const float halfExtent = reframed ? float(0.5 / blendScale) : 0.5f;

    const std::pair<int32_t, int32_t> destinationSize = tileSize(destinationImage.tilePixelBounds());
    const int32_t width = destinationSize.first;
    const int32_t height = destinationSize.second;
    const float halfWidth = float(width) * 0.5f;
    const float negativeHalfWidth = float(-int64_t(width)) * 0.5f;
    const float halfHeight = float(height) * 0.5f;
    const float negativeHalfHeight = float(-int64_t(height)) * 0.5f;
    const std::array<RenderVertex, 4> quad{{
        {{halfWidth, negativeHalfHeight}, {windowX + halfExtent, windowY + halfExtent}},
        {{negativeHalfWidth, negativeHalfHeight}, {windowX - halfExtent, windowY + halfExtent}},
        {{halfWidth, halfHeight}, {windowX + halfExtent, windowY - halfExtent}},
        {{negativeHalfWidth, halfHeight}, {windowX - halfExtent, windowY - halfExtent}},
    }};
    encoder->setViewport(MTLViewport{0.0, 0.0, double(width), double(height), -1.0, 1.0});

    const std::shared_ptr<MTLRenderPipelineState> pipelineState =
        cache.pipelineState(source.deviceRegistryID(), pixelFormat);
    if (!pipelineState) return Error{"Render: no render pipeline state"};
    encoder->setRenderPipelineState(pipelineState);

    const std::array<uint32_t, 2> viewportSize{uint32_t(width), uint32_t(height)};
    const float focalLength = float(state.config.focalLength);
    encoder->setVertexBytes(quad.data(), sizeof(quad), kVertexArgumentVertices);
    setVertexValue(*encoder, viewportSize, kVertexArgumentViewportSize);
    setFragmentValue(*encoder, viewportSize, kFragmentArgumentViewportSize);
    setVertexValue(*encoder, std::array<float, 2>{1.0f, 1.0f}, kVertexArgumentScale);
    setVertexValue(*encoder, std::array<float, 2>{0.0f, 0.0f}, kVertexArgumentOffset);
    setFragmentValue(*encoder, float(state.config.sensorSize), kFragmentArgumentSensorSize);
    setFragmentValue(*encoder, focalLength, kFragmentArgumentFocalLength);
    setFragmentValue(*encoder, focalLength * 0.5f / halfExtent, kFragmentArgumentWindowFocalLength);
    setFragmentValue(*encoder, std::array<float, 2>{windowX, windowY}, kFragmentArgumentWindowCenter);
    encoder->setFragmentTexture(sourceTexture, kFragmentTextureSource);
    setFragmentValue(*encoder, uint16_t(DrawingMode::image), kFragmentArgumentDrawingMode);
    setFragmentValue(*encoder, float(state.config.brightness), kFragmentArgumentBrightness);
    encoder->drawPrimitives(MTLPrimitiveTypeTriangleStrip, 0, quad.size());
    setFragmentValue(*encoder, 1.0f, kFragmentArgumentBrightness);

    const double renderScale = source.pixelTransform()->matrix()[0][0];
    const std::string sourceText = std::to_string(sourceWidth) + "x" + std::to_string(sourceHeight);
    const std::string destinationText = std::to_string(width) + "x" + std::to_string(height);
    NSLog("Render, " + sourceText + " => " + destinationText);
    {
        Counter::Locked locked = counter->lock();
        if (state.renderMode == RenderMode::Exam) locked.usage.showExam.countEvent();
        if (state.showBounds) locked.usage.showBounds.countEvent();
        locked.usage.sourceResolution.recordString(sourceText);
        locked.usage.destinationResolution.recordString(destinationText);
        locked.usage.bothResolutionMapping.recordString(sourceText + "=>" + destinationText);
        locked.usage.renderScale.recordFloat(renderScale);
        locked.usage.renderedFrames.countEvent();
    }

    if (state.enable) {
        const float thickness = float(renderScale * 10.0);
        const auto outline = [&](const Window& window, const Color& color) {
            drawOutline(*encoder, width, height, window, color, thickness);
        };
        if (state.showBounds) {
            // In the normal view a box is drawn where the output shows the part
            // of the source it outlines.
            const auto shown = [&](const Bounds& b) {
                if (!reframed) return Window{b.minX, b.minY, b.maxX, b.maxY};
                return Window{(b.minX - blendX) * blendScale + 0.5, (b.minY - blendY) * blendScale + 0.5,
                              (b.maxX - blendX) * blendScale + 0.5, (b.maxY - blendY) * blendScale + 0.5};
            };
            for (const Bounds& b : processed) {
                if (!(area(b) < 1e-12)) outline(shown(b), kGreen);
            }
            for (const Bounds& b : state.motion.bounds) outline(shown(b), kBlue);
        }
        if (state.renderMode == RenderMode::Exam) {
            const CGRect box = state.motionBox;
            const Window crop{cropX - 0.5 / cropScale, cropY - 0.5 / cropScale, cropX + 0.5 / cropScale,
                              cropY + 0.5 / cropScale};
            const Window blended{blendX - 0.5 / blendScale, blendY - 0.5 / blendScale, blendX + 0.5 / blendScale,
                                 blendY + 0.5 / blendScale};
            outline({CGRectGetMinX(box), CGRectGetMinY(box), CGRectGetMaxX(box), CGRectGetMaxY(box)}, kGrey);
            outline(crop, kYellow);
            outline(targetAspectPart(crop, state.config, sourceAspect), kYellow);
            outline(blended, kOrange);
            outline(targetAspectPart(blended, state.config, sourceAspect), kOrange);
        }
    }

    encoder->endEncoding();
    commandBuffer->commit();
    inLine.committed();
    commandBuffer->waitUntilCompleted();
    if (commandBuffer->status() == MTLCommandBufferStatusError && commandBuffer->error()) {
        NSLog("Render: the GPU did not finish the frame: " + commandBuffer->error()->message);
    }
    loan.giveBack();

    const uint64_t start = millisecondsSince1970(startDate);
    const uint64_t end = millisecondsSince1970();
    // A clock set back during the render gives no speed.
    if (end > start) {
        const uint64_t elapsed = end - start;
        counter->lock().performance.renderSpeedFps.recordFloat(float(1.0 / double(elapsed)));
    }
    return {};
}

}  // namespace kv
