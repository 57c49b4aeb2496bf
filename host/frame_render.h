#pragma once
// The host's render of one frame: it asks the effect for the output
// rectangle and the source tile it needs, makes the destination surface,
// and calls the render with image tiles over the surfaces, as the host does
// for every frame it shows.
#include <memory>
#include <optional>

#include "host/surface_pool.h"
#include "platform/coremedia/cmtime.h"
#include "platform/fxplug/fx_plugin.h"
#include "platform/iosurface/iosurface.h"

namespace kv::host {

struct RenderOutcome {
    bool succeeded = false;
    NSError error;                             // when the effect answered NO
    FxRect outputRect;                         // as the effect set it
    std::shared_ptr<IOSurface> destination;    // null when no surface could be made
};

// Renders the frame held by `source` into a surface of `destinationFormat`
// the size of the output rectangle: one taken from `destinations` when that
// pool's surfaces fit, otherwise a new one. `pluginState` is the state data
// of the frame's state call, none when it gave none.
RenderOutcome renderFrame(FxTileableEffect& effect, std::shared_ptr<IOSurface> source, OSType destinationFormat,
                          const std::optional<NSData>& pluginState, CMTime renderTime,
                          FxMatrix44 pixelTransform = FxMatrix44(), SurfacePool* destinations = nullptr);

}  // namespace kv::host
