#pragma once
// The effect side of the plug-in interface: what a plug-in class offers the
// host. A host holds a plug-in object as `FxPlugIn` and asks whether it
// adopts a protocol with `std::dynamic_pointer_cast`. An entry the plug-in
// does not implement answers NO with an error that names it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/coremedia/cmtime.h"
#include "platform/fxplug/fx_error.h"
#include "platform/fxplug/fx_image_tile.h"
#include "platform/fxplug/fx_value.h"

using FxQuality = uint32_t;
enum : FxQuality {
    kFxQuality_LOW = 0,
    kFxQuality_MEDIUM = 1,
    kFxQuality_HIGH = 2,
};

using FxImageTiles = std::vector<std::shared_ptr<const FxImageTile>>;

class FxPlugIn {
public:
    virtual ~FxPlugIn() = default;

    // Runs the action named by a push button's selector; NO when the object
    // does not respond to it.
    virtual bool performSelector(std::string_view selector);
};

class FxTileableEffect : public virtual FxPlugIn {
public:
    // Stores the property dictionary through `properties` when it is given.
    virtual bool properties(NSDictionary* properties, NSError* error);
    virtual bool addParametersWithError(NSError* error);
    // The class of the value a custom parameter holds.
    virtual FxClass classForCustomParameterID(uint32_t parameterID);
    virtual bool parameterChanged(uint32_t parameterID, CMTime time, NSError* error);
    // `pluginState` may be null; the state data, when one is made, goes there.
    virtual bool pluginState(std::optional<NSData>* pluginState, CMTime renderTime, FxQuality quality,
                             NSError* error);
    virtual bool destinationImageRect(FxRect* destinationImageRect, const FxImageTiles& sourceImages,
                                      const FxImageTile& destinationImage, const NSData* pluginState,
                                      CMTime renderTime, NSError* error);
    virtual bool sourceTileRect(FxRect* sourceTileRect, uint32_t sourceImageIndex, const FxImageTiles& sourceImages,
                                FxRect destinationTileRect, const FxImageTile& destinationImage,
                                const NSData* pluginState, CMTime renderTime, NSError* error);
    // `pluginState` is null when the host has no state data for the frame.
    virtual bool renderDestinationImage(const FxImageTile& destinationImage, const FxImageTiles& sourceImages,
                                        const NSData* pluginState, CMTime renderTime, NSError* error);
};

class FxAnalyzer : public virtual FxPlugIn {
public:
    virtual bool desiredAnalysisTimeRange(CMTimeRange* desiredRange, CMTimeRange inputTimeRange, NSError* error);
    virtual bool setupAnalysisForTimeRange(CMTimeRange timeRange, CMTime frameDuration, NSError* error);
    // `frame` is null when the host has no frame for the time.
    virtual bool analyzeFrame(const FxImageTile* frame, CMTime time, NSError* error);
    virtual bool cleanupAnalysis(NSError* error);
};
