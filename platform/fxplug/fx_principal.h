#pragma once
// The service principal: it runs the effect service and knows the plug-in
// classes of the process by name. A plug-in library makes its class known
// when it is loaded (a static registration), and the host creates objects of
// it by that plain name, as the platform's object runtime lets it.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/fxplug/fx_host_api.h"
#include "platform/fxplug/fx_plugin.h"

class FxPrincipal {
public:
    // Makes one object of a class for the host's API manager; none when the
    // class declines (it needs a manager).
    using PlugInFactory = std::function<std::shared_ptr<FxPlugIn>(std::shared_ptr<PROAPIAccessing>)>;

    // Serves the connected host until it leaves. On this platform hosts load
    // effects in their own process, so no host ever connects to a service
    // and it returns at once.
    static void startServicePrincipal();

    // Answers NO, keeping the class already there, when the name is taken.
    static bool registerPlugInClass(std::string className, PlugInFactory factory);
    static bool isPlugInClassRegistered(std::string_view className);

    // A new object of the named class; none when no class has that name or
    // the class declines.
    static std::shared_ptr<FxPlugIn> createPlugIn(std::string_view className,
                                                  std::shared_ptr<PROAPIAccessing> apiManager);
};
