#pragma once
// Where a workspace goes when the person names none.
#include <string>

namespace kestrel {

// The workspace proposed for a training corpus chosen as `chosenFolder`
// (without trailing '/'): the directory "model" beside it, with trailing '/'.
std::string defaultWorkspaceFor(const std::string& chosenFolder);

}  // namespace kestrel
