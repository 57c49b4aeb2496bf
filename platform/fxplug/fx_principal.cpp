#include "platform/fxplug/fx_principal.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, FxPrincipal::PlugInFactory, std::less<>> classes;
};

// Made on first use, so that registrations from static initialisers of any
// library find it ready.
Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

void FxPrincipal::startServicePrincipal() {}

bool FxPrincipal::registerPlugInClass(std::string className, PlugInFactory factory) {
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    return r.classes.emplace(std::move(className), std::move(factory)).second;
}

bool FxPrincipal::isPlugInClassRegistered(std::string_view className) {
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    return r.classes.find(className) != r.classes.end();
}

std::shared_ptr<FxPlugIn> FxPrincipal::createPlugIn(std::string_view className,
                                                    std::shared_ptr<PROAPIAccessing> apiManager) {
    PlugInFactory factory;
    {
        Registry& r = registry();
        std::lock_guard guard(r.mutex);
        auto found = r.classes.find(className);
        if (found == r.classes.end()) return nullptr;
        factory = found->second;
    }
    // Outside the registry's lock: objects of a class may be made side by side.
    return factory(std::move(apiManager));
}
