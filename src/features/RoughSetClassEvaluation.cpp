// Evaluation of the reduct by classes of documents that agree on it.
//
// When the threshold is so low that a single differing attribute always
// tells two documents apart, only documents that agree on every reduct
// attribute can be too close. The documents then fall into classes (equal
// values on the reduct), and with the documents in category order a document
// x is consistent for reduct + j exactly when no document of a higher
// category in its class has the same value of j as x. Per class and per j
// that is: among the class members containing j, those of the highest
// category there; among the members without j, those of the highest
// category there. A class whose members all share one category stays
// consistent for good and is dropped; adding an attribute to the reduct
// splits every class in two. Memory is linear in the table, and a pass costs
// the attribute occurrences of the documents still in mixed classes.
#include <algorithm>

#include "common/ParallelFor.h"
#include "common/Progress.h"
#include "features/RoughSetEvaluation.h"

namespace kestrel {

namespace {

// Lists of uint32 values laid end to end: list i is [start[i], start[i+1]).
struct FlatLists {
    std::vector<size_t> start{0};
    std::vector<uint32_t> values;

    size_t size() const { return start.size() - 1; }
    const uint32_t* begin(size_t i) const { return values.data() + start[i]; }
    const uint32_t* end(size_t i) const { return values.data() + start[i + 1]; }
    size_t length(size_t i) const { return start[i + 1] - start[i]; }
    void closeList() { start.push_back(values.size()); }
};

class ClassEvaluator : public ReductEvaluator {
public:
    ClassEvaluator(const DecisionTable& table, unsigned threads, ProgressSink* sink)
        : n_(static_cast<uint32_t>(table.documents.size())),
          threshold_(table.threshold),
          threads_(threads),
          sink_(sink),
          candidateOf_(candidateIndexOf(table)) {
        const size_t m = table.candidates.size();
        std::vector<uint32_t> frequency(m, 0);
        category_.reserve(n_);
        for (const RoughSetDocument& doc : table.documents) {
            category_.push_back(doc.category);
            for (uint32_t a : doc.attributes) {
                const uint32_t k = a < candidateOf_.size() ? candidateOf_[a] : kNotCandidate;
                if (k == kNotCandidate) continue;
                candidatesOf_.values.push_back(k);
                ++frequency[k];
            }
            candidatesOf_.closeList();
        }
        // Documents per candidate, ascending.
        postings_.start.resize(m + 1);
        for (size_t k = 0; k < m; ++k) postings_.start[k + 1] = postings_.start[k] + frequency[k];
        postings_.values.resize(postings_.start[m]);
        std::vector<size_t> fill(postings_.start.begin(), postings_.start.end() - 1);
        for (uint32_t x = 0; x < n_; ++x)
            for (const uint32_t* k = candidatesOf_.begin(x); k != candidatesOf_.end(x); ++k)
                postings_.values[fill[*k]++] = x;

        // The empty reduct: every document in one class.
        std::vector<uint32_t> all(n_);
        for (uint32_t x = 0; x < n_; ++x) all[x] = x;
        keepClass(all.data(), all.data() + all.size());
        delta_.assign(m, 0);
        inSplit_.assign(n_, 0);
    }

    bool qualities(const std::vector<uint32_t>& remaining, std::vector<uint32_t>& out) override {
        out.assign(remaining.size(), 0);
        if (!tooClose(0, reductSize_ + 1, threshold_)) {  // nothing is ever too close
            std::fill(out.begin(), out.end(), n_);
            return true;
        }
        // Blocks of classes, each with its own counts, summed afterwards in
        // block order so that the result never depends on the threads.
        const size_t classCount = classes_.size();
        const size_t blockCount = std::min<size_t>(classCount, 4 * size_t{workerCount(threads_, classCount)});
        std::vector<Block> blocks(blockCount);
        const bool finished = parallelFor(
            blockCount, threads_,
            [&](size_t b) {
                for (size_t c = b; c < classCount; c += blockCount) evaluateClass(c, blocks[b]);
            },
            [this] { return sink_ && sink_->cancelled(); });
        if (!finished) return false;

        int64_t common = consistent_;
        for (const Block& block : blocks) {
            common += block.top;
            for (const auto& [k, change] : block.changes) delta_[k] += change;
        }
        for (size_t i = 0; i < remaining.size(); ++i) {
            const uint32_t k = remaining[i] < candidateOf_.size() ? candidateOf_[remaining[i]] : kNotCandidate;
            out[i] = static_cast<uint32_t>(common + (k == kNotCandidate ? 0 : delta_[k]));
        }
        for (const Block& block : blocks)
            for (const auto& change : block.changes) delta_[change.first] = 0;
        return true;
    }

    void addToReduct(uint32_t attribute) override {
        ++reductSize_;
        const uint32_t k = attribute < candidateOf_.size() ? candidateOf_[attribute] : kNotCandidate;
        if (k == kNotCandidate) return;  // no document has it: the classes stay
        for (const uint32_t* x = postings_.begin(k); x != postings_.end(k); ++x) inSplit_[*x] = 1;
        FlatLists before = std::move(classes_);
        classes_ = FlatLists{};
        std::vector<uint32_t> with, without;
        for (size_t c = 0; c < before.size(); ++c) {
            with.clear();
            without.clear();
            for (const uint32_t* x = before.begin(c); x != before.end(c); ++x) (inSplit_[*x] ? with : without).push_back(*x);
            keepClass(with.data(), with.data() + with.size());
            keepClass(without.data(), without.data() + without.size());
        }
        for (const uint32_t* x = postings_.begin(k); x != postings_.end(k); ++x) inSplit_[*x] = 0;
    }

private:
    // Per block of classes: the consistent documents common to every
    // candidate, and each candidate's difference from that.
    struct Block {
        int64_t top = 0;
        std::vector<std::pair<uint32_t, int64_t>> changes;
        std::vector<uint32_t> slotOf;     // candidate -> slot in the current class
        std::vector<uint32_t> touched;    // candidates of the current class, by slot
        std::vector<uint32_t> perLevel;   // slot * levels + level: members containing it
        std::vector<uint32_t> members;    // members of the current class per level
    };

    // A class whose members all have one category can no longer hold a
    // document that is too close to another: they count as consistent.
    void keepClass(const uint32_t* first, const uint32_t* last) {
        if (first == last) return;
        if (category_[*first] == category_[*(last - 1)]) {
            consistent_ += last - first;
            return;
        }
        classes_.values.insert(classes_.values.end(), first, last);
        classes_.closeList();
    }

    void evaluateClass(size_t c, Block& block) const {
        const uint32_t* first = classes_.begin(c);
        const uint32_t* last = classes_.end(c);
        // Members per category level (the distinct categories, ascending).
        std::vector<uint32_t>& members = block.members;
        members.clear();
        uint32_t previous = category_[*first];
        members.push_back(0);
        for (const uint32_t* x = first; x != last; ++x) {
            if (category_[*x] != previous) {
                members.push_back(0);
                previous = category_[*x];
            }
            ++members.back();
        }
        const size_t levels = members.size();
        const uint32_t top = members.back();
        block.top += top;  // without the candidate, the highest category is consistent

        if (block.slotOf.empty()) block.slotOf.assign(delta_.size(), kNotCandidate);
        block.touched.clear();
        block.perLevel.clear();
        size_t level = 0;
        previous = category_[*first];
        for (const uint32_t* x = first; x != last; ++x) {
            if (category_[*x] != previous) {
                ++level;
                previous = category_[*x];
            }
            for (const uint32_t* k = candidatesOf_.begin(*x); k != candidatesOf_.end(*x); ++k) {
                uint32_t& slot = block.slotOf[*k];
                if (slot == kNotCandidate) {
                    slot = static_cast<uint32_t>(block.touched.size());
                    block.touched.push_back(*k);
                    block.perLevel.resize(block.perLevel.size() + levels, 0);
                }
                ++block.perLevel[slot * levels + level];
            }
        }
        for (size_t slot = 0; slot < block.touched.size(); ++slot) {
            const uint32_t* with = block.perLevel.data() + slot * levels;
            int64_t withTop = 0, withoutTop = 0;
            for (size_t l = levels; l-- > 0;)
                if (with[l] > 0) {
                    withTop = with[l];
                    break;
                }
            for (size_t l = levels; l-- > 0;)
                if (members[l] > with[l]) {
                    withoutTop = members[l] - with[l];
                    break;
                }
            const int64_t change = withTop + withoutTop - top;
            if (change != 0) block.changes.emplace_back(block.touched[slot], change);
            block.slotOf[block.touched[slot]] = kNotCandidate;
        }
    }

    uint32_t n_;
    double threshold_;
    unsigned threads_;
    ProgressSink* sink_;
    std::vector<uint32_t> candidateOf_;  // attribute id -> candidate index
    std::vector<uint32_t> category_;     // per document
    FlatLists candidatesOf_;             // candidate indices per document
    FlatLists postings_;                 // documents per candidate, ascending
    FlatLists classes_;                  // mixed classes, members ascending
    int64_t consistent_ = 0;             // members of classes with one category
    std::vector<int64_t> delta_;         // per candidate, summed over the blocks
    std::vector<uint8_t> inSplit_;       // documents holding the attribute being added
    uint32_t reductSize_ = 0;
};

}  // namespace

bool classEvaluationApplies(const DecisionTable& table) {
    if (table.candidates.empty()) return false;
    // "A later document of a higher category" must mean "a document of a
    // higher category".
    for (size_t x = 1; x < table.documents.size(); ++x)
        if (table.documents[x].category < table.documents[x - 1].category) return false;
    // One differing attribute must be far enough for every reduct size up
    // to the whole candidate list (the share 1 / s only shrinks as s grows).
    const auto largest = static_cast<uint32_t>(table.candidates.size());
    return !tooClose(1, largest, table.threshold);
}

std::unique_ptr<ReductEvaluator> makeClassEvaluator(const DecisionTable& table, unsigned threads,
                                                    ProgressSink* sink) {
    return std::make_unique<ClassEvaluator>(table, threads, sink);
}

}  // namespace kestrel
