#include "features/RoughSetReduction.h"

#include <algorithm>

#include <fmt/format.h>

#include "common/FileSystem.h"
#include "common/NumberFormat.h"
#include "common/Progress.h"
#include "features/RoughSetDecisionTable.h"
#include "features/RoughSetEvaluation.h"
#include "features/TermIndex.h"

namespace kestrel {

namespace {
const char* const kCancelled = "rough-set reduction cancelled";
}

bool RoughSetReduction::prepared() const { return prepared_; }

void RoughSetReduction::invalidate() {
    prepared_ = false;
    reductSize_ = 0;
    ranked_.clear();
}

uint32_t RoughSetReduction::reductSize() const { return reductSize_; }

Status RoughSetReduction::prepareAndReduce(const TermIndex& index, const CategoryTable& categories,
                                           const std::string& trainingCorpusPath, uint32_t trainingDocCount,
                                           ProgressSink* sink, const SegmentedCorpus* corpus) {
    invalidate();

    DecisionTable table;
    table.objectCount = trainingDocCount;
    table.categoryCount = static_cast<uint32_t>(categories.size());
    const AllTermTable allTerms = buildAllTermTable(index, trainingDocCount);
    table.attributeCount = static_cast<uint32_t>(index.size());

    // Unreadable documents stay in as empty ones; their messages are kept.
    warnings_.clear();
    if (!readDecisionDocuments(allTerms, categories, withTrailingSlash(trainingCorpusPath), table, sink, warnings_,
                               corpus))
        return Status::failure(kCancelled);
    buildCandidates(table);

    // The threshold needs at least one candidate (it is a share of them);
    // without candidates the reduct stays empty.
    if (!table.candidates.empty()) {
        if (sink) sink->progress("粗集约简：计算阈值", 0, 0);
        uint32_t smallest = kNoPairDifference;
        if (!minimumDifference(table, 0, sink, smallest)) return Status::failure(kCancelled);
        table.threshold = discernibilityThreshold(smallest, table.candidates.size());
    }

    ReductionOutcome outcome;
    {
        auto evaluator = makeReductEvaluator(table, 0, sink);
        if (!evaluator) return evaluator.status();
        if (!growReduct(table, **evaluator, sink, outcome)) return Status::failure(kCancelled);
    }

    // Terms and idf by attribute id.
    std::vector<const std::pair<const std::string, FeatureInfo>*> byId(table.attributeCount, nullptr);
    for (const auto& entry : allTerms)
        if (entry.second.id < byId.size()) byId[entry.second.id] = &entry;
    auto rank = [&](uint32_t attribute, int32_t tag) {
        if (attribute >= byId.size() || !byId[attribute]) return;
        ranked_.push_back({byId[attribute]->first, byId[attribute]->second.idf, tag});
    };
    ranked_.reserve(outcome.reduct.size() + outcome.remaining.size());
    for (uint32_t a : outcome.reduct) rank(a, -1);
    for (const RoughSetCandidate& c : outcome.remaining) rank(c.attribute, static_cast<int32_t>(c.dominant));
    reductSize_ = static_cast<uint32_t>(outcome.reduct.size());
    prepared_ = true;
    return Status::success();
}

Result<FeatureTable> RoughSetReduction::selection(uint32_t dimension, uint32_t categoryCount,
                                                 ProgressSink* sink) const {
    if (!prepared_) return Status::failure("no rough-set reduction exists for the current feature index");
    if (sink) sink->notify("粗糙集", fmt::format("粗集约简后的特征项数：{}", reductSize_));

    // Unsigned arithmetic on purpose: with fewer features asked for than the
    // reduct holds, the quota wraps to a huge value and the file holds the
    // first reduct attributes.
    const uint32_t quota = categoryCount == 0 ? 0 : (dimension - reductSize_) / categoryCount;
    int32_t largestTag = -1;
    for (const RankedAttribute& r : ranked_) largestTag = std::max(largestTag, r.tag);
    std::vector<uint32_t> taken(static_cast<size_t>(largestTag + 1), 0);

    std::vector<const RankedAttribute*> primary;
    std::vector<const RankedAttribute*> overflow;
    primary.reserve(ranked_.size());
    for (const RankedAttribute& r : ranked_) {
        if (r.tag < 0) {
            primary.push_back(&r);
        } else if (taken[r.tag] < quota) {
            ++taken[r.tag];
            primary.push_back(&r);
        } else {
            overflow.push_back(&r);
        }
    }
    primary.insert(primary.end(), overflow.begin(), overflow.end());

    FeatureTable selected;
    const size_t count = std::min<size_t>(dimension, primary.size());
    for (size_t k = 0; k < count; ++k) {
        const RankedAttribute& r = *primary[k];
        selected.emplace(r.term, FeatureInfo{static_cast<uint32_t>(k), r.idf});
    }
    return selected;
}

}  // namespace kestrel
