#pragma once
// The installation identifier: a number, never 0, that tells one
// installation of the effect from another across runs. Made once from the
// clock and kept in the user defaults.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kv {

// The user-defaults key under which the identifier's decimal text is kept.
inline constexpr std::string_view kInstallationIdKey = "com.orbelwick.fx_kestrelvantage.ins";

// The identifier of this installation: from the process's cache, else from
// the user defaults, else made now (milliseconds since 1970) and stored.
// Once known it never changes for the life of the process. Called by the
// statistics thread only.
uint64_t installationId();

// The identifier stored in the user defaults; 0 when there is none or its
// text is not a decimal number (an optional "+", digits only) that fits.
uint64_t readInstallationId();

// Forgets the cached identifier, so that the next installationId() looks
// again. For tests only: in the system the cache is filled once.
void forgetInstallationIdForTesting();

}  // namespace kv
