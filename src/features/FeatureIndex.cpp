#include "features/FeatureIndex.h"

#include <algorithm>

#include "common/ParallelFor.h"
#include "common/Progress.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

namespace {

// One .seg file as read by a worker, waiting to be counted.
struct ReadDocument {
    std::vector<SegLine> lines;
    std::string error;
    std::string warning;
    bool ok = false;
};

// Documents read ahead of the counting at a time: enough to keep every core
// busy, few enough that their word lists stay small beside the index.
constexpr size_t kReadAhead = 512;

}  // namespace

void buildTermIndex(const std::string& corpusPath, const CategoryTable& categories, uint32_t categoryCount,
                    TermIndex& index, std::vector<std::string>& warnings, ProgressSink* sink, unsigned threads) {
    index.clear();
    const CategoryTable used(categories.begin(),
                             categories.begin() + std::min<size_t>(categoryCount, categories.size()));
    const auto documents = listTrainingDocuments(corpusPath, used, &warnings);
    // Reading and parsing the files is most of the work and runs on every
    // core, a block of documents at a time. The counting stays in this
    // thread and in document order, so that terms keep their order of first
    // appearance and messages their order.
    std::vector<ReadDocument> block(std::min(kReadAhead, documents.size()));
    for (size_t begin = 0; begin < documents.size(); begin += block.size()) {
        const size_t count = std::min(block.size(), documents.size() - begin);
        parallelFor(count, threads, [&](size_t i) {
            ReadDocument& read = block[i];
            read.error.clear();
            read.warning.clear();
            read.ok = readSegFile(documents[begin + i].path, read.lines, &read.error, &read.warning);
        });
        for (size_t i = 0; i < count; ++i) {
            ReadDocument& read = block[i];
            const size_t n = begin + i;
            if (!read.ok) {
                warnings.push_back(std::move(read.error));
                continue;
            }
            if (!read.warning.empty()) warnings.push_back(std::move(read.warning));
            for (const auto& line : read.lines) index.addOccurrence(line.term, documents[n].category, categoryCount);
            if (sink && (n % 64 == 0 || n + 1 == documents.size())) sink->progress("index", n + 1, documents.size());
        }
    }
}

}  // namespace kestrel
