#include "features/RoughSetEvaluation.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <limits>
#include <string>
#include <thread>

#include "common/FileSystem.h"
#include "common/Progress.h"

namespace kestrel {

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// Runs fn(begin, end, worker) over [0, n) in chunks handed out on demand, on
// up to `threads` threads (the calling thread is one of them). Stops handing
// out chunks once `cancelled` says so; returns false then.
template <class Fn>
bool parallelChunks(size_t n, unsigned threads, size_t chunk, ProgressSink* sink, Fn&& fn) {
    std::atomic<size_t> next{0};
    std::atomic<bool> stopped{false};
    auto work = [&](unsigned worker) {
        for (;;) {
            if (stopped.load(std::memory_order_relaxed)) return;
            if (sink && sink->cancelled()) {
                stopped = true;
                return;
            }
            const size_t begin = next.fetch_add(chunk);
            if (begin >= n) return;
            fn(begin, std::min(n, begin + chunk), worker);
        }
    };
    const size_t chunks = (n + chunk - 1) / chunk;
    const unsigned used = static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(threads, chunks)));
    std::vector<std::thread> pool;
    for (unsigned w = 1; w < used; ++w) pool.emplace_back(work, w);
    work(0);
    for (auto& t : pool) t.join();
    return !stopped;
}

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

std::vector<uint32_t> candidateIndexOf(const DecisionTable& table) {
    std::vector<uint32_t> index(table.attributeCount, kNone);
    for (size_t k = 0; k < table.candidates.size(); ++k) {
        const uint32_t a = table.candidates[k].attribute;
        if (a < index.size()) index[a] = static_cast<uint32_t>(k);
    }
    return index;
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
          threads_(workerThreads(threads)),
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
        const unsigned threads = threads_;
        std::vector<Local> locals(threads);
        for (Local& l : locals) {
            l.counts.assign(m, 0);
            l.partners.assign(words_, 0);
        }

        const bool finished = parallelChunks(n_, threads, 32, sink_, [&](size_t begin, size_t end, unsigned w) {
            Local& local = locals[w];
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
        parallelChunks(n_, threads_, 64, nullptr, [&](size_t begin, size_t end, unsigned) {
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

unsigned workerThreads(unsigned threads) {
    if (threads == 0) threads = std::thread::hardware_concurrency();
    return std::clamp(threads, 1u, 64u);
}

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

bool minimumDifference(const DecisionTable& table, unsigned threads, ProgressSink* sink, uint32_t& result) {
    const auto& docs = table.documents;
    const uint32_t n = static_cast<uint32_t>(docs.size());
    const std::vector<uint32_t> candidateOf = candidateIndexOf(table);
    const size_t m = table.candidates.size();

    // Document frequency of every candidate; the most frequent ones go into a
    // dense bitset per document (compared with popcount), the others into
    // inverted lists (shared ones counted per partner). The split minimises
    // the estimated work.
    std::vector<uint32_t> df(m, 0);
    for (const auto& doc : docs)
        for (uint32_t a : doc.attributes)
            if (a < candidateOf.size() && candidateOf[a] != kNone) ++df[candidateOf[a]];
    std::vector<uint32_t> byFrequency(m);
    for (uint32_t k = 0; k < m; ++k) byFrequency[k] = k;
    std::stable_sort(byFrequency.begin(), byFrequency.end(), [&](uint32_t a, uint32_t b) { return df[a] > df[b]; });

    const std::vector<uint32_t> lo = firstHigher(docs);
    double pairs = 0;
    for (uint32_t x = 0; x < n; ++x) pairs += n - lo[x];
    double sparseCost = 0;
    for (uint32_t k = 0; k < m; ++k) sparseCost += 0.5 * double(df[k]) * double(df[k]);
    size_t denseCount = 0;
    double bestCost = sparseCost;
    {
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
    }
    const size_t denseWords = (denseCount + 63) / 64;
    std::vector<uint32_t> denseRank(m, kNone);
    for (size_t r = 0; r < denseCount; ++r) denseRank[byFrequency[r]] = static_cast<uint32_t>(r);

    std::vector<uint64_t> dense(static_cast<size_t>(n) * denseWords, 0);
    std::vector<std::vector<uint32_t>> sparse(n);       // sparse candidates per document
    std::vector<std::vector<uint32_t>> postings(m);      // documents per sparse candidate
    for (uint32_t x = 0; x < n; ++x) {
        for (uint32_t a : docs[x].attributes) {
            const uint32_t k = a < candidateOf.size() ? candidateOf[a] : kNone;
            if (k == kNone) continue;
            if (denseRank[k] != kNone) {
                dense[static_cast<size_t>(x) * denseWords + denseRank[k] / 64] |= uint64_t{1} << (denseRank[k] % 64);
            } else {
                sparse[x].push_back(k);
                postings[k].push_back(x);
            }
        }
    }

    const unsigned used = workerThreads(threads);
    std::vector<std::vector<uint32_t>> shared(used, std::vector<uint32_t>(n, 0));
    std::atomic<uint32_t> best{kNoPairDifference};
    const bool finished = parallelChunks(n, used, 16, sink, [&](size_t begin, size_t end, unsigned w) {
        std::vector<uint32_t>& common = shared[w];
        uint32_t local = best.load(std::memory_order_relaxed);
        for (size_t xi = begin; xi < end && local > 0; ++xi) {
            const uint32_t x = static_cast<uint32_t>(xi);
            const uint32_t from = lo[x];
            if (from >= n) continue;
            for (uint32_t k : sparse[x]) {
                const auto& list = postings[k];
                for (auto it = std::lower_bound(list.begin(), list.end(), from); it != list.end(); ++it) ++common[*it];
            }
            const uint64_t* own = dense.data() + static_cast<size_t>(x) * denseWords;
            const uint32_t ownSparse = static_cast<uint32_t>(sparse[x].size());
            for (uint32_t y = from; y < n; ++y) {
                if (docs[y].category > docs[x].category) {
                    const uint64_t* other = dense.data() + static_cast<size_t>(y) * denseWords;
                    uint32_t diff = ownSparse + static_cast<uint32_t>(sparse[y].size()) - 2 * common[y];
                    for (size_t i = 0; i < denseWords; ++i) diff += static_cast<uint32_t>(std::popcount(own[i] ^ other[i]));
                    local = std::min(local, diff);
                }
                common[y] = 0;
            }
        }
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
            const std::string stage = formatString("粗集约简：第%zu轮，约简集%zu项",
                                                   outcome.reduct.size(), outcome.reduct.size());
            sink->progress(stage, best, n);
        }
    }
    outcome.remaining = std::move(remaining);
    return true;
}

}  // namespace kestrel
