#include "host/frame_render.h"

#include <cstring>

#include "host/frame_surfaces.h"

namespace kv::host {

RenderOutcome renderFrame(FxTileableEffect& effect, std::shared_ptr<IOSurface> source, OSType destinationFormat,
                          const std::optional<NSData>& pluginState, CMTime renderTime, FxMatrix44 pixelTransform,
                          SurfacePool* destinations) {
    RenderOutcome outcome;
    const NSData* state = pluginState ? &*pluginState : nullptr;
    const FxImageTiles sources{makeFullFrameTile(std::move(source), pixelTransform)};
    const FxRect sourceBounds = sources.front()->imagePixelBounds();

    // The host proposes an output the size of the source and keeps what the
    // effect answers.
    const FxImageTile proposed(nullptr, sourceBounds, sourceBounds, kHostDeviceRegistryID, pixelTransform);
    outcome.outputRect = sourceBounds;
    if (!effect.destinationImageRect(&outcome.outputRect, sources, proposed, state, renderTime, &outcome.error)) {
        return outcome;
    }
    // The effect's render writes every pixel of the destination, so it is
    // not cleared first; a frame the effect does not render is cleared below.
    const int64_t width = int64_t(outcome.outputRect.right) - outcome.outputRect.left;
    const int64_t height = int64_t(outcome.outputRect.top) - outcome.outputRect.bottom;
    outcome.destination = destinations && destinations->fits(width, height, destinationFormat)
                              ? destinations->take()
                              : IOSurface::create(width, height, destinationFormat, IOSurface::Contents::uncleared);
    if (!outcome.destination) {
        outcome.error = NSError{"Host", 1, "No destination surface for the output rectangle"};
        return outcome;
    }
    const auto destination = makeFullFrameTile(outcome.destination, pixelTransform);
    FxRect sourceTile = sourceBounds;
    if (!effect.sourceTileRect(&sourceTile, 0, sources, destination->tilePixelBounds(), *destination, state,
                               renderTime, &outcome.error)) {
        return outcome;
    }
    outcome.succeeded = effect.renderDestinationImage(*destination, sources, state, renderTime, &outcome.error);
    // Without state data, or when the render fails, the effect draws nothing:
    // the frame is handed back transparent black rather than as the memory was.
    if (!outcome.succeeded || !state) std::memset(outcome.destination->baseAddress(), 0, outcome.destination->allocationSize());
    return outcome;
}

}  // namespace kv::host
