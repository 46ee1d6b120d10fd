#pragma once
// Evaluation of the rough-set reduction: the smallest difference between
// documents of different categories, the quality of attribute lists, and the
// greedy growth of the reduct.
//
// Three evaluators compute the same qualities. The direct one follows the
// definition pair by pair and attribute by attribute; it is kept as the
// reference that the others are checked against. The incremental one keeps,
// for every pair of documents, how many reduct attributes tell the two apart,
// so that a candidate adds at most one to that count; it decides each
// document with bitsets over the documents and runs on several threads. Its
// memory grows with the square of the documents. The class evaluator needs
// memory linear in the table but holds only when one differing attribute
// always tells two documents apart (the usual case: the threshold is 0.9 x
// the smallest difference / candidates, and that smallest difference is 0 or
// 1 unless no two documents of different categories are nearly alike).
#include <cstdint>
#include <memory>
#include <vector>

#include "common/Status.h"
#include "features/RoughSetDecisionTable.h"

namespace kestrel {

class ProgressSink;

// Quality of (current reduct + one candidate) for many candidates at a time.
class ReductEvaluator {
public:
    virtual ~ReductEvaluator() = default;
    // qualities[k] = number of consistent documents for reduct + remaining[k]
    // (attribute ids, each a candidate not in the reduct). False when
    // cancelled through the sink.
    virtual bool qualities(const std::vector<uint32_t>& remaining, std::vector<uint32_t>& qualities) = 0;
    // Appends an attribute to the reduct.
    virtual void addToReduct(uint32_t attribute) = 0;
};

// The straightforward evaluation, O(candidates x N^2 x |B|) per pass.
std::unique_ptr<ReductEvaluator> makeDirectEvaluator(const DecisionTable& table);
// The incremental evaluation; `threads` 0 uses every core. The sink (may be
// null) is asked for cancellation from worker threads.
std::unique_ptr<ReductEvaluator> makeIncrementalEvaluator(const DecisionTable& table, unsigned threads,
                                                          ProgressSink* sink);

// Whether the class evaluation gives the right qualities for this table:
// documents in category order, and a threshold below one differing
// attribute per candidate.
bool classEvaluationApplies(const DecisionTable& table);
// The class evaluation; only where classEvaluationApplies. The sink (may be
// null) is asked for cancellation from worker threads.
std::unique_ptr<ReductEvaluator> makeClassEvaluator(const DecisionTable& table, unsigned threads,
                                                    ProgressSink* sink);

// Most bytes the incremental evaluation may take for its table of document
// pairs; beyond it the reduction stops before it starts.
inline constexpr uint64_t kPairTableLimit = uint64_t{4} << 30;

// The evaluation the reduction uses: by classes where that holds, otherwise
// incremental, or a failure when its pair table would exceed
// kPairTableLimit.
Result<std::unique_ptr<ReductEvaluator>> makeReductEvaluator(const DecisionTable& table, unsigned threads,
                                                             ProgressSink* sink);

// Smallest number of candidates on which a document differs from a later
// document of a higher category; kNoPairDifference when there is no such
// pair. Direct: merge of every pair's attribute lists.
uint32_t minimumDifferenceDirect(const DecisionTable& table);
// The same, fast (dense bits for frequent attributes, inverted lists for the
// rest, several threads). False when cancelled.
bool minimumDifference(const DecisionTable& table, unsigned threads, ProgressSink* sink, uint32_t& result);

struct ReductionOutcome {
    std::vector<uint32_t> reduct;                  // attribute ids in the order chosen
    std::vector<RoughSetCandidate> remaining;      // the other candidates, candidate-list order
    std::vector<uint32_t> bestAfterPass;           // best quality so far after each pass
    std::vector<std::vector<uint32_t>> qualities;  // every pass's qualities (when asked for)
};

// Greedy growth of the reduct from table.candidates and table.threshold.
// False when cancelled.
bool growReduct(const DecisionTable& table, ReductEvaluator& evaluator, ProgressSink* sink,
                ReductionOutcome& outcome, bool keepQualities = false);

}  // namespace kestrel
