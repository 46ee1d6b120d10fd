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

}  // namespace kestrel
