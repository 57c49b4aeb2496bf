// The effect service: hands the process to the service principal, which
// serves the host's requests until it returns.
#include "platform/fxplug/fx_principal.h"

int main() {
    FxPrincipal::startServicePrincipal();
    return 0;
}
