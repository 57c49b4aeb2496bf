#pragma once
// The program's short version text, shown in the effect's "Plugin version"
// parameter and sent in the statistics message.
#include <string>

namespace kv {

// "CFBundleShortVersionString" of the main bundle's information dictionary,
// unchanged, when it is a string; "?" when there is no dictionary, no such
// entry, or an entry of another type. Keeps no state; any thread may call it.
std::string bundleShortVersion();

}  // namespace kv
