#include "features/RoughSetEvaluation.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <limits>
#include <string>

#include <fmt/format.h>

#include "common/ParallelFor.h"
#include "common/Progress.h"

namespace kestrel {

namespace {

constexpr uint32_t kNone = kNotCandidate;

// Runs fn(begin, end, block) over [0, n) in chunks of `chunk` items on the
// project's parallel loop. Chunk c belongs to block c % blocks, and a block
// runs on one thread at a time, so each block may own scratch state; taking
// every blocks-th chunk spreads rows of unequal length evenly. Returns false
// when the sink cancels.
template <class Fn>
bool forEachChunk(size_t n, size_t chunk, size_t blocks, unsigned threads, ProgressSink* sink, Fn&& fn) {
    const size_t chunks = (n + chunk - 1) / chunk;
    auto cancelled = [sink] { return sink && sink->cancelled(); };
    return parallelFor(
        std::min(blocks, chunks), threads,
        [&](size_t b) {
            for (size_t c = b; c < chunks && !cancelled(); c += blocks) fn(c * chunk, std::min(n, c * chunk + chunk), b);
        },
        cancelled);
}

// Blocks of scratch state for `threads` workers: a few per worker, so that a
// worker that finishes early takes another.
size_t blocksFor(unsigned threads) { return 4 * size_t{workerCount(threads, 64)}; }

// For every document x, the first later document of a higher category (N when
// there is none). Pairs (x, y) with y below that position never count; from it
// on, y counts when its category is higher than x's (always, when the
// documents come category by category, as the corpus walk lists them).
std::vector<uint32_t> firstHigher(const std::vector<RoughSetDocument>& docs) {
    const uint32_t n = static_cast<uint32_t>(docs.size());
    std::vector<uint32_t> lo(n, n);
    for (uint32_t x = n; x-- > 0;) {
        if (x + 1 == n) continue;
        const uint32_t own = docs[x].category, next = docs[x + 1].category;
        if (next > own) {
            lo[x] = x + 1;
        } else if (next == own) {
            lo[x] = lo[x + 1];  // the same search, one document later
        } else {
            uint32_t y = x + 2;
            while (y < n && docs[y].category <= own) ++y;
            lo[x] = y;
        }
    }
    return lo;
}

// ---------------------------------------------------------------------------
// Direct evaluation: the definition, pair by pair.

class DirectEvaluator : public ReductEvaluator {
public:
    explicit DirectEvaluator(const DecisionTable& table) : table_(table) {
        // Attribute values as a plain matrix: 1 present, 0 absent.
        values_.assign(table.documents.size() * size_t{table.attributeCount}, 0);
        for (size_t x = 0; x < table.documents.size(); ++x)
            for (uint32_t a : table.documents[x].attributes)
                if (a < table.attributeCount) values_[x * table.attributeCount + a] = 1;
    }

    bool qualities(const std::vector<uint32_t>& remaining, std::vector<uint32_t>& out) override {
        const auto& docs = table_.documents;
        out.assign(remaining.size(), 0);
        std::vector<uint32_t> list = reduct_;
        list.push_back(0);
        for (size_t k = 0; k < remaining.size(); ++k) {
            list.back() = remaining[k];
            const uint32_t size = static_cast<uint32_t>(list.size());
            uint32_t consistent = 0;
            for (size_t x = 0; x < docs.size(); ++x) {
                bool ok = true;
                for (size_t y = x + 1; y < docs.size() && ok; ++y) {
                    if (docs[x].category >= docs[y].category) continue;
                    uint32_t diff = 0;
                    for (uint32_t a : list)
                        if (value(x, a) != value(y, a)) ++diff;
                    if (tooClose(diff, size, table_.threshold)) ok = false;
                }
                if (ok) ++consistent;
            }
            out[k] = consistent;
        }
        return true;
    }

    void addToReduct(uint32_t attribute) override { reduct_.push_back(attribute); }

private:
    char value(size_t document, uint32_t attribute) const {
        return attribute < table_.attributeCount ? values_[document * table_.attributeCount + attribute] : 0;
    }

    const DecisionTable& table_;
    std::vector<char> values_;
    std::vector<uint32_t> reduct_;
};

// ---------------------------------------------------------------------------
// Incremental evaluation.
//
// For a pair (x, y) let d be its difference on the reduct R. On R + j the
// difference is d or d + 1 (d + 1 when x and y differ on j). With s = |R| + 1
// the test diff / s < threshold is monotone in diff, so it holds exactly for
// diff < limit, limit counted with the same double expression. Hence a pair
// with d + 1 < limit is too close for every j (x is inconsistent for all of
// them), a pair with d >= limit is far for every j, and a pair with
// d == limit - 1 (a boundary pair) is too close exactly when x and y agree
// on j. A document x without a closer pair is consistent for j exactly when j
// separates x from all of its boundary partners: j in x and in none of them,
// or j outside x and in all of them (so in the first of them). These tests
// are bitset operations over the documents.
template <class Count>
class IncrementalEvaluator : public ReductEvaluator {
public:
    IncrementalEvaluator(const DecisionTable& table, unsigned threads, ProgressSink* sink)
        : n_(static_cast<uint32_t>(table.documents.size())),
          words_((n_ + 63) / 64),
          threshold_(table.threshold),
          threads_(threads),
          sink_(sink),
          candidateCount_(table.candidates.size()),
          candidateOf_(candidateIndexOf(table)) {
        const size_t m = candidateCount_;
        category_.reserve(n_);
        docCandidates_.resize(n_);
        columns_.assign(m * words_, 0);
        for (uint32_t x = 0; x < n_; ++x) {
            const RoughSetDocument& doc = table.documents[x];
            category_.push_back(doc.category);
            for (uint32_t a : doc.attributes) {
                const uint32_t k = a < candidateOf_.size() ? candidateOf_[a] : kNone;
                if (k == kNone) continue;
                docCandidates_[x].push_back(k);
                columns_[k * words_ + x / 64] |= uint64_t{1} << (x % 64);
            }
        }
        lo_ = firstHigher(table.documents);
        rowOffset_.resize(n_ + 1, 0);
        for (uint32_t x = 0; x < n_; ++x) rowOffset_[x + 1] = rowOffset_[x] + (n_ - lo_[x]);
        diff_.assign(rowOffset_[n_], 0);
    }

    bool qualities(const std::vector<uint32_t>& remaining, std::vector<uint32_t>& out) override {
        out.assign(remaining.size(), 0);
        const uint32_t size = reductSize_ + 1;
        uint32_t limit = 0;
        while (limit <= size && tooClose(limit, size, threshold_)) ++limit;
        if (limit == 0) {  // nothing is ever too close: every document is consistent
            std::fill(out.begin(), out.end(), n_);
            return true;
        }
        const uint32_t boundary = limit - 1;
        const size_t m = candidateCount_;

        struct Local {
            std::vector<uint32_t> counts;
            std::vector<uint64_t> partners;
            uint32_t base = 0;
        };
        std::vector<Local> locals(blocksFor(threads_));
        for (Local& l : locals) {
            l.counts.assign(m, 0);
            l.partners.assign(words_, 0);
        }

        const bool finished = forEachChunk(n_, 32, locals.size(), threads_, sink_, [&](size_t begin, size_t end, size_t b) {
            Local& local = locals[b];
            for (size_t x = begin; x < end; ++x) evaluateDocument(static_cast<uint32_t>(x), boundary, local.counts,
                                                                  local.partners, local.base);
        });
        if (!finished) return false;

        uint32_t base = 0;
        for (const Local& l : locals) base += l.base;
        for (size_t i = 0; i < remaining.size(); ++i) {
            const uint32_t k = remaining[i] < candidateOf_.size() ? candidateOf_[remaining[i]] : kNone;
            uint32_t q = base;
            if (k != kNone)
                for (const Local& l : locals) q += l.counts[k];
            out[i] = q;
        }
        return true;
    }

    void addToReduct(uint32_t attribute) override {
        const uint32_t k = attribute < candidateOf_.size() ? candidateOf_[attribute] : kNone;
        ++reductSize_;
        if (k == kNone) return;  // not a candidate: it tells no documents apart here
        std::vector<uint8_t> bit(n_);
        const uint64_t* column = columns_.data() + static_cast<size_t>(k) * words_;
        for (uint32_t y = 0; y < n_; ++y) bit[y] = static_cast<uint8_t>((column[y / 64] >> (y % 64)) & 1);
        forEachChunk(n_, 64, blocksFor(threads_), threads_, nullptr, [&](size_t begin, size_t end, size_t) {
            for (size_t x = begin; x < end; ++x) {
                Count* row = diff_.data() + rowOffset_[x];
                const uint8_t* other = bit.data() + lo_[x];
                const uint8_t own = bit[x];
                const size_t length = n_ - lo_[x];
                for (size_t i = 0; i < length; ++i) row[i] = static_cast<Count>(row[i] + (other[i] ^ own));
            }
        });
    }

private:
    void evaluateDocument(uint32_t x, uint32_t boundary, std::vector<uint32_t>& counts,
                          std::vector<uint64_t>& partners, uint32_t& base) const {
        const uint32_t lo = lo_[x];
        if (lo >= n_) {
            ++base;
            return;
        }
        const size_t firstWord = lo / 64;
        std::fill(partners.begin() + firstWord, partners.end(), 0);
        const Count* row = diff_.data() + rowOffset_[x];
        const uint32_t own = category_[x];
        uint32_t first = n_;
        for (uint32_t y = lo; y < n_; ++y) {
            if (category_[y] <= own) continue;
            const uint32_t d = row[y - lo];
            if (d < boundary) return;  // too close whatever is added
            if (d == boundary) {
                partners[y / 64] |= uint64_t{1} << (y % 64);
                if (first == n_) first = y;
            }
        }
        if (first == n_) {  // no boundary partner: consistent for every candidate
            ++base;
            return;
        }
        const uint64_t* p = partners.data();
        // Attributes of x that no boundary partner has.
        for (uint32_t k : docCandidates_[x]) {
            const uint64_t* column = columns_.data() + static_cast<size_t>(k) * words_;
            bool shared = false;
            for (size_t w = firstWord; w < words_; ++w)
                if (column[w] & p[w]) {
                    shared = true;
                    break;
                }
            if (!shared) ++counts[k];
        }
        // Attributes outside x that every boundary partner has; the first
        // partner limits the search to its own attributes.
        for (uint32_t k : docCandidates_[first]) {
            const uint64_t* column = columns_.data() + static_cast<size_t>(k) * words_;
            if ((column[x / 64] >> (x % 64)) & 1) continue;
            bool all = true;
            for (size_t w = firstWord; w < words_; ++w)
                if (p[w] & ~column[w]) {
                    all = false;
                    break;
                }
            if (all) ++counts[k];
        }
    }

    uint32_t n_;
    size_t words_;
    double threshold_;
    unsigned threads_;
    ProgressSink* sink_;
    size_t candidateCount_;
    std::vector<uint32_t> candidateOf_;         // attribute id -> candidate index
    std::vector<uint32_t> category_;            // per document
    std::vector<std::vector<uint32_t>> docCandidates_;  // candidate indices per document
    std::vector<uint64_t> columns_;             // per candidate: bitset over the documents
    std::vector<uint32_t> lo_;                  // first counted partner of each document
    std::vector<size_t> rowOffset_;             // start of each document's row in diff_
    std::vector<Count> diff_;                   // reduct difference of (x, y), y from lo_[x] on
    uint32_t reductSize_ = 0;
};

}  // namespace

std::unique_ptr<ReductEvaluator> makeDirectEvaluator(const DecisionTable& table) {
    return std::make_unique<DirectEvaluator>(table);
}

std::unique_ptr<ReductEvaluator> makeIncrementalEvaluator(const DecisionTable& table, unsigned threads,
                                                          ProgressSink* sink) {
    // A pair's reduct difference never exceeds the number of candidates, so
    // 16-bit counts suffice for all but huge candidate lists.
    if (table.candidates.size() < std::numeric_limits<uint16_t>::max())
        return std::make_unique<IncrementalEvaluator<uint16_t>>(table, threads, sink);
    return std::make_unique<IncrementalEvaluator<uint32_t>>(table, threads, sink);
}

Result<std::unique_ptr<ReductEvaluator>> makeReductEvaluator(const DecisionTable& table, unsigned threads,
                                                             ProgressSink* sink) {
    if (classEvaluationApplies(table)) return makeClassEvaluator(table, threads, sink);
    const std::vector<uint32_t> lo = firstHigher(table.documents);
    uint64_t pairs = 0;
    for (size_t x = 0; x < lo.size(); ++x) pairs += lo.size() - lo[x];
    const uint64_t bytes = pairs * (table.candidates.size() < std::numeric_limits<uint16_t>::max() ? 2 : 4);
    if (bytes > kPairTableLimit)
        return Status::failure(fmt::format(
            "rough-set reduction of {} training documents needs {:.1f} GB for its table of document pairs, more "
            "than the {} GB allowed; choose another selection method or a smaller training corpus",
            table.documents.size(), double(bytes) / double(1u << 30), kPairTableLimit >> 30));
    return makeIncrementalEvaluator(table, threads, sink);
}

uint32_t minimumDifferenceDirect(const DecisionTable& table) {
    const auto& docs = table.documents;
    uint32_t best = kNoPairDifference;
    for (size_t x = 0; x < docs.size(); ++x) {
        for (size_t y = x + 1; y < docs.size(); ++y) {
            if (docs[x].category >= docs[y].category) continue;
            const auto& a = docs[x].attributes;
            const auto& b = docs[y].attributes;
            uint32_t diff = 0;
            size_t i = 0, j = 0;
            while (i < a.size() || j < b.size()) {
                if (j == b.size() || (i < a.size() && a[i] < b[j])) {
                    ++diff;
                    ++i;
                } else if (i == a.size() || b[j] < a[i]) {
                    ++diff;
                    ++j;
                } else {
                    ++i;
                    ++j;
                }
            }
            best = std::min(best, diff);
        }
    }
    return best;
}

namespace {

// The candidates of every document for comparing pairs: the most frequent
// ones as dense bits (compared with popcount), the others as sparse lists
// with inverted lists beside them (shared ones counted per partner).
struct DifferenceLayout {
    size_t denseWords = 0;
    std::vector<uint64_t> dense;               // denseWords per document
    std::vector<std::vector<uint32_t>> sparse;  // sparse candidates per document
    std::vector<std::vector<uint32_t>> postings;  // documents per sparse candidate, ascending
};

// How many of the candidates, most frequent first, go into dense bits: the
// split that minimises the estimated work (a popcount word per pair against
// df^2 / 2 partner counts per sparse candidate).
size_t denseCandidateCount(const std::vector<uint32_t>& df, const std::vector<uint32_t>& byFrequency, double pairs) {
    const size_t m = df.size();
    double sparseCost = 0;
    for (uint32_t k = 0; k < m; ++k) sparseCost += 0.5 * double(df[k]) * double(df[k]);
    size_t denseCount = 0;
    double bestCost = sparseCost;
    double rest = sparseCost;
    for (size_t block = 0; block * 64 < m && block < 64; ++block) {
        for (size_t r = block * 64; r < std::min(m, block * 64 + 64); ++r)
            rest -= 0.5 * double(df[byFrequency[r]]) * double(df[byFrequency[r]]);
        const double cost = pairs * double(block + 1) + rest;
        if (cost < bestCost) {
            bestCost = cost;
            denseCount = std::min(m, block * 64 + 64);
        }
    }
    return denseCount;
}

DifferenceLayout layOutCandidates(const DecisionTable& table, const std::vector<uint32_t>& lo) {
    const auto& docs = table.documents;
    const uint32_t n = static_cast<uint32_t>(docs.size());
    const std::vector<uint32_t> candidateOf = candidateIndexOf(table);
    const size_t m = table.candidates.size();

    std::vector<uint32_t> df(m, 0);
    for (const auto& doc : docs)
        for (uint32_t a : doc.attributes)
            if (a < candidateOf.size() && candidateOf[a] != kNone) ++df[candidateOf[a]];
    std::vector<uint32_t> byFrequency(m);
    for (uint32_t k = 0; k < m; ++k) byFrequency[k] = k;
    std::stable_sort(byFrequency.begin(), byFrequency.end(), [&](uint32_t a, uint32_t b) { return df[a] > df[b]; });
    double pairs = 0;
    for (uint32_t x = 0; x < n; ++x) pairs += n - lo[x];
    const size_t denseCount = denseCandidateCount(df, byFrequency, pairs);

    DifferenceLayout layout;
    layout.denseWords = (denseCount + 63) / 64;
    std::vector<uint32_t> denseRank(m, kNone);
    for (size_t r = 0; r < denseCount; ++r) denseRank[byFrequency[r]] = static_cast<uint32_t>(r);
    layout.dense.assign(static_cast<size_t>(n) * layout.denseWords, 0);
    layout.sparse.resize(n);
    layout.postings.resize(m);
    for (uint32_t x = 0; x < n; ++x) {
        for (uint32_t a : docs[x].attributes) {
            const uint32_t k = a < candidateOf.size() ? candidateOf[a] : kNone;
            if (k == kNone) continue;
            if (denseRank[k] != kNone) {
                layout.dense[static_cast<size_t>(x) * layout.denseWords + denseRank[k] / 64] |= uint64_t{1}
                                                                                             << (denseRank[k] % 64);
            } else {
                layout.sparse[x].push_back(k);
                layout.postings[k].push_back(x);
            }
        }
    }
    return layout;
}

// The smallest difference between document x and its later documents of a
// higher category, at most `bound`. `common` is zero on entry and on exit.
uint32_t smallestDifferenceOf(uint32_t x, uint32_t from, const DifferenceLayout& layout,
                              const std::vector<RoughSetDocument>& docs, std::vector<uint32_t>& common,
                              uint32_t bound) {
    const uint32_t n = static_cast<uint32_t>(docs.size());
    for (uint32_t k : layout.sparse[x]) {
        const auto& list = layout.postings[k];
        for (auto it = std::lower_bound(list.begin(), list.end(), from); it != list.end(); ++it) ++common[*it];
    }
    const size_t words = layout.denseWords;
    const uint64_t* own = layout.dense.data() + static_cast<size_t>(x) * words;
    const uint32_t ownSparse = static_cast<uint32_t>(layout.sparse[x].size());
    for (uint32_t y = from; y < n; ++y) {
        if (docs[y].category > docs[x].category) {
            const uint64_t* other = layout.dense.data() + static_cast<size_t>(y) * words;
            uint32_t diff = ownSparse + static_cast<uint32_t>(layout.sparse[y].size()) - 2 * common[y];
            for (size_t i = 0; i < words; ++i) diff += static_cast<uint32_t>(std::popcount(own[i] ^ other[i]));
            bound = std::min(bound, diff);
        }
        common[y] = 0;
    }
    return bound;
}

}  // namespace

bool minimumDifference(const DecisionTable& table, unsigned threads, ProgressSink* sink, uint32_t& result) {
    const auto& docs = table.documents;
    const uint32_t n = static_cast<uint32_t>(docs.size());
    const std::vector<uint32_t> lo = firstHigher(docs);
    const DifferenceLayout layout = layOutCandidates(table, lo);

    std::vector<std::vector<uint32_t>> shared(blocksFor(threads));
    std::atomic<uint32_t> best{kNoPairDifference};
    const bool finished = forEachChunk(n, 16, shared.size(), threads, sink, [&](size_t begin, size_t end, size_t b) {
        std::vector<uint32_t>& common = shared[b];
        if (common.empty()) common.assign(n, 0);
        uint32_t local = best.load(std::memory_order_relaxed);
        for (size_t x = begin; x < end && local > 0; ++x)
            if (lo[x] < n) local = smallestDifferenceOf(static_cast<uint32_t>(x), lo[x], layout, docs, common, local);
        uint32_t seen = best.load();
        while (local < seen && !best.compare_exchange_weak(seen, local)) {
        }
    });
    if (!finished) return false;
    result = best.load();
    return true;
}

bool growReduct(const DecisionTable& table, ReductEvaluator& evaluator, ProgressSink* sink,
                ReductionOutcome& outcome, bool keepQualities) {
    outcome = ReductionOutcome{};
    const uint32_t n = static_cast<uint32_t>(table.documents.size());
    std::vector<RoughSetCandidate> remaining = table.candidates;
    std::vector<uint32_t> ids;
    std::vector<uint32_t> qualities;
    uint32_t best = 0;  // best quality so far, kept across passes
    while (best < n && !remaining.empty()) {
        if (sink && sink->cancelled()) return false;
        ids.clear();
        for (const RoughSetCandidate& c : remaining) ids.push_back(c.attribute);
        if (!evaluator.qualities(ids, qualities)) return false;
        // The first candidate that beats the best so far, then every later
        // one that beats it again; without any, the first candidate.
        size_t choice = 0;
        for (size_t k = 0; k < qualities.size(); ++k) {
            if (qualities[k] > best) {
                best = qualities[k];
                choice = k;
            }
        }
        const uint32_t chosen = remaining[choice].attribute;
        outcome.reduct.push_back(chosen);
        evaluator.addToReduct(chosen);
        remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(choice));
        outcome.bestAfterPass.push_back(best);
        if (keepQualities) outcome.qualities.push_back(qualities);
        if (sink) {
            const std::string stage = fmt::format("粗集约简：第{}轮，约简集{}项", outcome.reduct.size(),
                                                  outcome.reduct.size());
            sink->progress(stage, best, n);
        }
    }
    outcome.remaining = std::move(remaining);
    return true;
}

}  // namespace kestrel
