#include "host/frame_render.h"

#include "host/frame_surfaces.h"

namespace kv::host {

RenderOutcome renderFrame(FxTileableEffect& effect, std::shared_ptr<IOSurface> source, OSType destinationFormat,
                          const std::optional<NSData>& pluginState, CMTime renderTime, FxMatrix44 pixelTransform) {
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
    outcome.destination = IOSurface::create(int64_t(outcome.outputRect.right) - outcome.outputRect.left,
                                            int64_t(outcome.outputRect.top) - outcome.outputRect.bottom,
                                            destinationFormat);
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
    return outcome;
}

}  // namespace kv::host
