#include "features/FeatureIndex.h"

namespace kestrel {

SegmentedCorpus buildTermIndex(const std::string& corpusPath, const CategoryTable& categories, uint32_t categoryCount,
                               TermIndex& index, std::vector<std::string>& warnings, ProgressSink* sink,
                               unsigned threads, const std::string& spillDirectory, size_t memoryLimit) {
    index.clear();
    const CategoryTable used(categories.begin(),
                             categories.begin() + std::min<size_t>(categoryCount, categories.size()));
    // Term ids come in order of first appearance, which is the order of the
    // index, so an id is the position of its entry.
    auto count = [&](const SegmentedCorpus& corpus, const SegmentedCorpus::Document& doc,
                     const std::vector<uint32_t>& ids, const std::vector<int64_t>&) {
        for (const uint32_t id : ids) index.addNumberedOccurrence(id, corpus.term(id), doc.category, categoryCount);
    };
    SegmentedCorpus corpus = SegmentedCorpus::read(corpusPath, used, threads, warnings, sink, count, spillDirectory,
                                                     memoryLimit);
    index.reindex();
    return corpus;
}

}  // namespace kestrel
