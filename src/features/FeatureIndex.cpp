#include "features/FeatureIndex.h"

namespace kestrel {

namespace {

// Counts each document's terms into `index` as the corpus reads them. Term
// ids come in order of first appearance, which is the order of the index,
// so an id is the position of its entry.
SegmentedCorpus::DocumentFn countInto(TermIndex& index, uint32_t categoryCount) {
    index.clear();
    return [&index, categoryCount](const SegmentedCorpus& corpus, const SegmentedCorpus::Document& doc,
                                   const std::vector<uint32_t>& ids, const std::vector<int64_t>&) {
        for (const uint32_t id : ids) index.addNumberedOccurrence(id, corpus.term(id), doc.category, categoryCount);
    };
}

}  // namespace

SegmentedCorpus buildTermIndex(const std::string& corpusPath, const CategoryTable& categories, uint32_t categoryCount,
                               TermIndex& index, std::vector<std::string>& warnings, ProgressSink* sink,
                               unsigned threads, const std::string& spillDirectory, size_t memoryLimit) {
    const CategoryTable used(categories.begin(),
                             categories.begin() + std::min<size_t>(categoryCount, categories.size()));
    SegmentedCorpus corpus = SegmentedCorpus::read(corpusPath, used, threads, warnings, sink,
                                                     countInto(index, categoryCount), spillDirectory, memoryLimit);
    index.reindex();
    return corpus;
}

SegmentedCorpus buildTermIndex(std::vector<CorpusDocument> documents, uint32_t categoryCount, TermIndex& index,
                               std::vector<std::string>& warnings, ProgressSink* sink, unsigned threads,
                               const std::string& spillDirectory, size_t memoryLimit) {
    SegmentedCorpus corpus = SegmentedCorpus::read(std::move(documents), threads, warnings, sink,
                                                     countInto(index, categoryCount), spillDirectory, memoryLimit);
    index.reindex();
    return corpus;
}

}  // namespace kestrel
