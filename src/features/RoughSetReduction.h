#pragma once
// Rough-set feature reduction: the fourth selection method. The expensive
// part (decision table and greedy reduct) runs once per feature index; every
// later selection by this method only fills the requested dimension from the
// stored result.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"
#include "common/Status.h"
#include "features/FeatureTable.h"

namespace kestrel {

class SegmentedCorpus;

class TermIndex;
class ProgressSink;

class RoughSetReduction {
public:
    // True when a reduction result for the current feature index exists.
    bool prepared() const;
    // Forgets the result (the feature index was rebuilt).
    void invalidate();
    // Builds the all-term table (from `index` in its current order) and the
    // decision table (from the .seg files of the training corpus), runs the
    // reduction and stores the result. Reports progress (pass number, reduct
    // size) through `sink` and stops when sink->cancelled(): then fails
    // with a message saying so and nothing is stored. Also fails, before the
    // reduction starts, when the corpus is too large for it.
    // `corpus`, when given, holds the term lists the index was built from.
    Status prepareAndReduce(const TermIndex& index, const CategoryTable& categories,
                            const std::string& trainingCorpusPath, uint32_t trainingDocCount, ProgressSink* sink,
                            const SegmentedCorpus* corpus = nullptr);
    uint32_t reductSize() const;
    // Messages of the documents the last preparation could not read.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // The selection for the clipped dimension, ids in rank order; tells
    // sink->notify("粗糙集", "粗集约简后的特征项数：<R>") first. Fails when no
    // reduction is stored.
    Result<FeatureTable> selection(uint32_t dimension, uint32_t categoryCount, ProgressSink* sink) const;

private:
    // One attribute of the stored result: reduct attributes in the order
    // chosen (tag -1), then the other candidates in spread order, tagged with
    // their dominant category.
    struct RankedAttribute {
        std::string term;
        double idf = 0.0;
        int32_t tag = -1;
    };

    bool prepared_ = false;
    uint32_t reductSize_ = 0;
    std::vector<RankedAttribute> ranked_;
    std::vector<std::string> warnings_;
};

}  // namespace kestrel
