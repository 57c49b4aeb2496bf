#include "plugin/kestrelvantage_plugin.h"

#include "platform/foundation/log.h"
#include "platform/fxplug/fx_principal.h"
#include "plugin/parameter_set.h"
#include "plugin/stat_thread_slot.h"
#include "stats/bundle_version.h"

namespace kv {
namespace {

// The class is known to the host by its plain name as soon as the service's
// code is loaded.
[[maybe_unused]] const bool registered = FxPrincipal::registerPlugInClass(
    kPlugInClassName, [](std::shared_ptr<PROAPIAccessing> apiManager) -> std::shared_ptr<FxPlugIn> {
        return KestrelvantagePlugIn::initWithAPIManager(std::move(apiManager));
    });

}  // namespace

std::shared_ptr<KestrelvantagePlugIn> KestrelvantagePlugIn::initWithAPIManager(
    std::shared_ptr<PROAPIAccessing> apiManager) {
    if (!apiManager) return nullptr;
    return std::make_shared<KestrelvantagePlugIn>(ConstructionKey{}, std::move(apiManager));
}

std::shared_ptr<KestrelvantagePlugIn> KestrelvantagePlugIn::init() { return nullptr; }

// The members come up in their declared order: the manager's place empty,
// the locks and caches, the run's bookkeeping, the detector, the counter.
// Only then is the manager kept, and the process's statistics thread started
// when this is the first effect object.
KestrelvantagePlugIn::KestrelvantagePlugIn(ConstructionKey, std::shared_ptr<PROAPIAccessing> apiManager)
    : analysisFrameSeconds(CMTimeGetSeconds(misc.analysisFrameDuration)), counter(std::make_shared<Counter>()) {
    _apiManager = apiManager;
    StatThreadSlot::process().fillOnce(counter);
}

// Releases what the object owns; no host service is called and nothing is
// saved. A statistics thread bound to the counter finds it gone.
KestrelvantagePlugIn::~KestrelvantagePlugIn() = default;

bool KestrelvantagePlugIn::properties(NSDictionary* properties, NSError*) {
    if (properties) {
        *properties = NSDictionary{
            {"MayRemapTime", NSNumber::boolean(false)},
            {"PixelTransformSupport", NSNumber::integer(1)},
            {"NeedsFullBuffer", NSNumber::boolean(true)},
            {"ChangesOutputSize", NSNumber::boolean(true)},
            {"VariesWhenParamsAreStatic", NSNumber::boolean(true)},
        };
    }
    return true;
}

bool KestrelvantagePlugIn::addParametersWithError(NSError*) {
    addParameters();
    return true;
}

void KestrelvantagePlugIn::addParameters() {
    const auto api = hostService<FxParameterCreationAPI_v5>();
    if (!api) {
        NSLog("Unable to retrieve parameter creation API; no parameters added");
        return;
    }
    createParameterSet(*api, bundleShortVersion());
}

FxClass KestrelvantagePlugIn::classForCustomParameterID(uint32_t parameterID) {
    const bool holdsDictionary = parameterID == param::analysisData || parameterID == param::analysisHash;
    return holdsDictionary ? FxClass::NSDictionary : FxClass::NSNull;
}

}  // namespace kv
