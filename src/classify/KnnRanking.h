#pragma once
// The pieces KNN ranks neighbours with: the running first k, the views of a
// document's entries, the per-worker work spaces and the similarity of two
// vectors. Used by the scorer and the classifier only.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "classify/KnnClassifier.h"

namespace kestrel::knn {

// Documents one worker takes at a time: the cosine scores them together,
// so that each stretch of a feature's column is read from memory once for
// all of them.
constexpr size_t kDocumentsPerTask = 128;
// Training documents whose dot products are accumulated at a time, so that
// the sums of a task's documents stay in the processor's cache.
constexpr size_t kTrainingTile = 1024;
// Training documents whose bounds one document takes at a time: its rare
// shares fill one row of this many sums, which stays in the first cache.
constexpr size_t kBoundTile = 4096;

// Columns whose next stretch is fetched ahead of use.
constexpr size_t kColumnsAhead = 8;
// Column entries a document's seeds are drawn from: an eighth of the
// training documents, at least kSeedEntries; and seeds per neighbour.
constexpr size_t kSeedEntries = 256;
constexpr size_t kSeedShareInverse = 8;
constexpr size_t kSeedsPerNeighbour = 8;
// Feature numbers up to which a table by feature number serves the exact
// sums of the bounds (32 MB per worker at most).
constexpr size_t kTableFeatures = size_t(1) << 22;

// A training document's place in the ranking.
struct Ranked {
    double similarity;
    uint32_t document;
};

// Ranking of neighbours: larger similarity first; undefined (NaN) after every
// defined one; equal similarities in training order.
struct RankedBefore {
    bool operator()(const Ranked& x, const Ranked& y) const {
        const bool nx = std::isnan(x.similarity);
        const bool ny = std::isnan(y.similarity);
        if (nx != ny) return ny;
        if (!nx && x.similarity != y.similarity) return x.similarity > y.similarity;
        return x.document < y.document;
    }
};

// The k training documents that rank first among those offered so far, in
// a heap whose top is the last of them: most documents are compared once,
// with that top, and dropped. The ranking is a strict order, so this finds
// the same k documents as a sort of all of them, and the vote depends on
// nothing else.
class FirstK {
public:
    void reset(uint32_t k) {
        k_ = k;
        heap_.clear();
    }
    void offer(double similarity, size_t document) {
        const Ranked r{similarity, static_cast<uint32_t>(document)};
        if (heap_.size() < k_) {
            heap_.push_back(r);
            std::push_heap(heap_.begin(), heap_.end(), RankedBefore());
        } else if (k_ > 0 && RankedBefore()(r, heap_.front())) {
            std::pop_heap(heap_.begin(), heap_.end(), RankedBefore());
            heap_.back() = r;
            std::push_heap(heap_.begin(), heap_.end(), RankedBefore());
        }
    }
    // The similarity a document must reach to be kept: -inf while fewer
    // than k are kept, +inf when k is 0, NaN when the last kept one is
    // undefined (then nothing can be ruled out by comparing with it).
    double threshold() const {
        if (k_ == 0) return HUGE_VAL;
        return heap_.size() < k_ ? -HUGE_VAL : heap_.front().similarity;
    }
    // One vote per kept document; the most votes win, the lowest category a
    // tie, category 0 without votes.
    int32_t winner(const int32_t* categories, uint32_t categoryCount, std::vector<uint32_t>& votes) const {
        votes.assign(categoryCount, 0);
        for (const Ranked& r : heap_) {
            const int32_t c = categories[r.document];
            if (c >= 0 && static_cast<uint32_t>(c) < categoryCount) ++votes[static_cast<uint32_t>(c)];
        }
        int32_t best = 0;
        uint32_t bestVotes = 0;
        for (uint32_t c = 0; c < categoryCount; ++c) {
            if (votes[c] > bestVotes) {
                bestVotes = votes[c];
                best = static_cast<int32_t>(c);
            }
        }
        return best;
    }

private:
    uint32_t k_ = 0;
    std::vector<Ranked> heap_;
};

// A feature of a task's document that has a training column.
struct ColumnUse {
    uint32_t column;
    uint32_t document;  // in the task
    double weight;
};

// A document ranked with the bounds.
struct BoundedDocument {
    bool bounded = false;  // false: summed with every training document
    double root = 0.0;     // square root of its squared norm
    float frequent = 0.0f;  // norm of its normalised frequent weights, rounded up
    size_t groups = 0;      // where its group norms start in Scratch::queryGroups
    size_t seeds = 0;       // its seeds in Scratch::seeds: [seeds, seedsEnd)
    size_t seedsEnd = 0;
    size_t uses = 0;        // its uses of rare columns in Scratch::uses: [uses, usesEnd)
    size_t usesEnd = 0;
};

// Work space of one worker.
struct Scratch {
    std::vector<ColumnUse> uses;
    std::vector<size_t> runs;     // where each column's uses start, then the end
    std::vector<size_t> cursors;  // per use: where its column's next tile starts
    std::vector<double> sums;     // dot products of a tile, per document
    std::vector<FirstK> first;    // per document
    std::vector<uint32_t> votes;
    // The distances' tables of one document (see rankByDistance).
    std::vector<double> partner;
    std::vector<uint32_t> slot;
    std::vector<uint32_t> seen;
    std::vector<double> alone;
    // Ranking with the bounds (see rankByBounds).
    std::vector<BoundedDocument> bounded;
    std::vector<float> queryGroups;
    std::vector<double> groupSquares;
    std::vector<uint32_t> seeds;
    std::vector<double> seedSums;   // per training document
    std::vector<uint8_t> seedMarks;  // per training document
    std::vector<uint32_t> touched;
    std::vector<size_t> order;
    std::vector<double> table;  // the weights of one document by feature number, 0 elsewhere
};

// The two forms of a sparse vector the similarities read.
struct EntryView {
    const VectorEntry* entries;
    size_t count;
    size_t size() const { return count; }
    int32_t feature(size_t i) const { return entries[i].wnum; }
    double weight(size_t i) const { return entries[i].weight; }
};
struct RowView {
    SparseRow row;
    size_t size() const { return row.size; }
    int32_t feature(size_t i) const { return row.features[i]; }
    double weight(size_t i) const { return row.weights[i]; }
};

// Sum over a merge of the two ordered vectors: f(a, b) where both have the
// feature, g(a) where only A has it, then g(b) for the features only B has;
// the A entries come first in feature order, then the rest of B, as the sums
// are defined.
template <typename A, typename B, typename Both, typename One>
inline double mergeSum(const A& a, const B& b, Both both, One one) {
    double s = 0.0;
    size_t j = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        while (j < b.size() && b.feature(j) < a.feature(i)) ++j;
        if (j < b.size() && b.feature(j) == a.feature(i)) s += both(a.weight(i), b.weight(j));
        else s += one(a.weight(i));
    }
    // Entries of B without a partner in A, in increasing feature number.
    size_t i = 0;
    for (j = 0; j < b.size(); ++j) {
        while (i < a.size() && a.feature(i) < b.feature(j)) ++i;
        if (i == a.size() || a.feature(i) != b.feature(j)) s += one(b.weight(j));
    }
    return s;
}

template <typename A, typename B>
inline double similarityBetween(const A& a, double aNorm, const B& b, double bNorm, Similarity code) {
    if (code == Similarity::Cosine) {
        double dot = 0.0;
        size_t j = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            while (j < b.size() && b.feature(j) < a.feature(i)) ++j;
            if (j < b.size() && b.feature(j) == a.feature(i)) dot += a.weight(i) * b.weight(j);
        }
        return (dot / std::sqrt(aNorm)) / std::sqrt(bNorm);
    }
    if (code == Similarity::Euclidean) {
        const double s = mergeSum(
            a, b, [](double x, double y) { return (x - y) * (x - y); }, [](double x) { return x * x; });
        return -std::sqrt(s);
    }
    return -mergeSum(
        a, b, [](double x, double y) { return std::fabs(x - y); }, [](double x) { return std::fabs(x); });
}

}  // namespace kestrel::knn
