#pragma once
// The version of the programs, set once as the build's project version.

namespace kestrel {

// The version number, e.g. "0.1", as `--version` prints it.
const char* kestrelVersion();

}  // namespace kestrel
