#include "platform/fxplug/fx_error.h"

NSError convertErrorToNSError(const kv::Error& error) {
    return NSError{kKestrelvantageErrorDomain, 1, error.message};
}

bool reportError(const kv::Error& error, NSError* place) {
    if (place) *place = convertErrorToNSError(error);
    return false;
}
