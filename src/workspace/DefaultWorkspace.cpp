#include "workspace/DefaultWorkspace.h"

namespace kestrel {

std::string defaultWorkspaceFor(const std::string& chosenFolder) {
    std::string folder = chosenFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return "model/";
    return folder.substr(0, slash) + "/model/";
}

}  // namespace kestrel
