#include "features/FeatureIndex.h"

#include "common/Progress.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

void buildTermIndex(const std::string& corpusPath, const CategoryTable& categories, uint32_t categoryCount,
                    TermIndex& index, std::vector<std::string>& warnings, ProgressSink* sink) {
    index.clear();
    const CategoryTable used(categories.begin(),
                             categories.begin() + std::min<size_t>(categoryCount, categories.size()));
    const auto documents = listTrainingDocuments(corpusPath, used, &warnings);
    std::vector<SegLine> lines;
    for (size_t n = 0; n < documents.size(); ++n) {
        std::string error, warning;
        if (!readSegFile(documents[n].path, lines, &error, &warning)) {
            warnings.push_back(error);
            continue;
        }
        if (!warning.empty()) warnings.push_back(std::move(warning));
        for (const auto& line : lines) index.addOccurrence(line.term, documents[n].category, categoryCount);
        if (sink && (n % 64 == 0 || n + 1 == documents.size())) sink->progress("index", n + 1, documents.size());
    }
}

}  // namespace kestrel
