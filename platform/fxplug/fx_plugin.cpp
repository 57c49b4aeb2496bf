#include "platform/fxplug/fx_plugin.h"

#include <string>

namespace {

bool notImplemented(const char* selector, NSError* error) {
    return reportError(kv::Error{std::string(selector) + " is not implemented by the plug-in"}, error);
}

}  // namespace

bool FxPlugIn::performSelector(std::string_view) { return false; }

bool FxTileableEffect::properties(NSDictionary*, NSError* error) {
    return notImplemented("properties:error:", error);
}

bool FxTileableEffect::addParametersWithError(NSError* error) {
    return notImplemented("addParametersWithError:", error);
}

FxClass FxTileableEffect::classForCustomParameterID(uint32_t) { return FxClass::NSNull; }

bool FxTileableEffect::parameterChanged(uint32_t, CMTime, NSError*) { return true; }

bool FxTileableEffect::pluginState(std::optional<NSData>*, CMTime, FxQuality, NSError* error) {
    return notImplemented("pluginState:atTime:quality:error:", error);
}

bool FxTileableEffect::destinationImageRect(FxRect*, const FxImageTiles&, const FxImageTile&, const NSData*, CMTime,
                                            NSError* error) {
    return notImplemented("destinationImageRect:sourceImages:destinationImage:pluginState:atTime:error:", error);
}

bool FxTileableEffect::sourceTileRect(FxRect*, uint32_t, const FxImageTiles&, FxRect, const FxImageTile&,
                                      const NSData*, CMTime, NSError* error) {
    return notImplemented(
        "sourceTileRect:sourceImageIndex:sourceImages:destinationTileRect:destinationImage:pluginState:atTime:error:",
        error);
}

bool FxTileableEffect::renderDestinationImage(const FxImageTile&, const FxImageTiles&, const NSData*, CMTime,
                                              NSError* error) {
    return notImplemented("renderDestinationImage:sourceImages:pluginState:atTime:error:", error);
}

bool FxAnalyzer::desiredAnalysisTimeRange(CMTimeRange*, CMTimeRange, NSError* error) {
    return notImplemented("desiredAnalysisTimeRange:forInputWithTimeRange:error:", error);
}

bool FxAnalyzer::setupAnalysisForTimeRange(CMTimeRange, CMTime, NSError* error) {
    return notImplemented("setupAnalysisForTimeRange:frameDuration:error:", error);
}

bool FxAnalyzer::analyzeFrame(const FxImageTile*, CMTime, NSError* error) {
    return notImplemented("analyzeFrame:atTime:error:", error);
}

bool FxAnalyzer::cleanupAnalysis(NSError* error) { return notImplemented("cleanupAnalysis:", error); }
