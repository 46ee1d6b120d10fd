#include "app/CorpusCounting.h"

#include "app/Corpus.h"
#include "common/FileSystem.h"

namespace kestrel {

CorpusCount countCategorisedCorpus(const std::string& dir, int inputFormat) {
    CorpusCount count;
    const std::string base = withTrailingSlash(dir);
    for (const auto& sub : listSubdirectories(base).valueOr({})) {
        ++count.categories;
        count.documents +=
            static_cast<uint32_t>(listFiles(base + sub, documentExtension(inputFormat)).valueOr({}).size());
    }
    return count;
}

uint32_t countDocuments(const std::string& dir, int inputFormat) {
    return static_cast<uint32_t>(listFiles(withTrailingSlash(dir), documentExtension(inputFormat)).valueOr({}).size());
}

std::string defaultWorkspaceFor(const std::string& chosenFolder) {
    std::string folder = chosenFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return "model/";
    return folder.substr(0, slash) + "/model/";
}

}  // namespace kestrel
