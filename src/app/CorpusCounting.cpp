#include "app/CorpusCounting.h"

#include "common/Corpus.h"
#include "common/FileSystem.h"

namespace kestrel {

CorpusCount countCategorisedCorpus(const std::string& dir, InputFormat format) {
    CorpusCount count;
    const std::string base = withTrailingSlash(dir);
    for (const auto& sub : listSubdirectories(base).valueOr({})) {
        ++count.categories;
        count.documents += static_cast<uint32_t>(listFiles(base + sub, documentExtension(format)).valueOr({}).size());
    }
    return count;
}

uint32_t countDocuments(const std::string& dir, InputFormat format) {
    return static_cast<uint32_t>(listFiles(withTrailingSlash(dir), documentExtension(format)).valueOr({}).size());
}

std::string defaultWorkspaceFor(const std::string& chosenFolder) {
    std::string folder = chosenFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return "model/";
    return folder.substr(0, slash) + "/model/";
}

double classificationAccuracy(const std::vector<RawDocument>& documents, size_t categoryCount) {
    const auto isCategory = [categoryCount](int32_t id) { return id >= 0 && static_cast<size_t>(id) < categoryCount; };
    uint64_t counted = 0, correct = 0;
    for (const RawDocument& doc : documents) {
        if (!isCategory(doc.trueCategory) || !isCategory(doc.assignedCategory)) continue;
        ++counted;
        correct += doc.trueCategory == doc.assignedCategory;
    }
    return counted == 0 ? 0.0 : static_cast<double>(correct) / static_cast<double>(counted);
}

}  // namespace kestrel
