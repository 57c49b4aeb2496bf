#pragma once
// The host's error object, and the platform's standard conversion of one of
// the system's errors into it. A host entry that fails stores the converted
// error through its error place, when the host passed one, and answers NO.
#include <cstdint>
#include <string>

#include "platform/foundation/result.h"

struct NSError {
    std::string domain;
    int64_t code = 0;
    std::string localizedDescription;

    friend bool operator==(const NSError&, const NSError&) = default;
};

// The domain every converted system error carries.
inline constexpr const char* kKestrelvantageErrorDomain = "Kestrelvantage.Error";

NSError convertErrorToNSError(const kv::Error& error);

// Stores the converted error through `place` when there is one; answers NO,
// so that an entry can end with `return reportError(error, place);`.
bool reportError(const kv::Error& error, NSError* place);
