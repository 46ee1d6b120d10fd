#pragma once
// The scorer of KNN: ranks the training documents for a block of documents
// (the cosine by columns with bounds, the distances by rows) and votes; and
// the classification of a block on every core.
#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <numeric>

#include "classify/KnnRanking.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"

namespace kestrel::knn {
// One classification: the training set in the form its measure reads, and
// what every document's scoring shares.
class Scorer {
public:
    // `bounds`, when built, ranks the cosine without summing every pair.
    Scorer(const KnnTrainingSet& training, const KnnCosineBounds& bounds, Similarity code, uint32_t k,
           uint32_t categoryCount)
        : training_(training), code_(code), k_(k), categoryCount_(categoryCount) {
        if (code_ != Similarity::Cosine) return;
        roots_.resize(training.size());
        for (size_t t = 0; t < roots_.size(); ++t) roots_[t] = std::sqrt(training.squaredNorm(t));
        if (bounds.empty()) return;
        bounds_ = &bounds;
        if (training.denseFeatures() && static_cast<size_t>(training.highestFeature()) < kTableFeatures)
            tableSize_ = static_cast<size_t>(training.highestFeature()) + 1;
    }

    // Classifies docs[0, count) into assigned[0, count).
    void classify(const DocumentVector* docs, size_t count, int32_t* assigned, Scratch& scratch) const {
        scratch.first.resize(count);
        for (size_t d = 0; d < count; ++d) scratch.first[d].reset(k_);
        if (code_ == Similarity::Cosine) {
            if (bounds_) rankByBounds(docs, count, scratch);
            else rankByCosine(docs, count, scratch);
        } else {
            for (size_t d = 0; d < count; ++d) rankByDistance(docs[d], scratch.first[d], scratch);
        }
        for (size_t d = 0; d < count; ++d)
            assigned[d] = scratch.first[d].winner(training_.categories().data(), categoryCount_, scratch.votes);
    }

private:
    void rankByDistance(const DocumentVector& b, FirstK& first, Scratch& scratch) const {
        auto squared = [](double x, double y) { return (x - y) * (x - y); };
        auto absolute = [](double x, double y) { return std::fabs(x - y); };
        if (training_.denseFeatures()) {
            if (code_ == Similarity::Euclidean) rankByTable(b, squared, true, first, scratch);
            else rankByTable(b, absolute, false, first, scratch);
            return;
        }
        const EntryView bView{b.list(), b.size()};
        for (size_t t = 0; t < training_.size(); ++t)
            first.offer(similarityBetween(RowView{training_.row(t)}, training_.squaredNorm(t), bView, b.twoNorm, code_), t);
    }

    // The merge sums of the distances without the merge: b is spread over
    // tables by feature number, so a training entry finds its partner
    // weight in one look-up, and 0 where b has none, which gives the very
    // term the merge adds then ((a - 0)^2 = a^2, |a - 0| = |a|). The entries
    // of b that found no partner follow in their order, as in the merge; for
    // the others 0 is added, which leaves the sum as it is (a sum of squares
    // or absolute values is never -0).
    template <typename Term>
    void rankByTable(const DocumentVector& b, Term term, bool root, FirstK& first, Scratch& scratch) const {
        const size_t features = static_cast<size_t>(training_.highestFeature()) + 1;
        const size_t nb = b.size();
        scratch.partner.assign(features, 0.0);
        scratch.slot.assign(features, static_cast<uint32_t>(nb));
        scratch.alone.resize(nb);
        for (size_t j = 0; j < nb; ++j) {
            const auto f = static_cast<size_t>(b.words[j].wnum);
            scratch.alone[j] = term(b.words[j].weight, 0.0);
            if (f >= features) continue;
            scratch.partner[f] = b.words[j].weight;
            scratch.slot[f] = static_cast<uint32_t>(j);
        }
        scratch.seen.assign(nb + 1, UINT32_MAX);
        for (size_t t = 0; t < training_.size(); ++t) {
            const SparseRow row = training_.row(t);
            double s = 0.0;
            for (size_t i = 0; i < row.size; ++i) {
                const auto f = static_cast<size_t>(row.features[i]);
                s += term(row.weights[i], scratch.partner[f]);
                scratch.seen[scratch.slot[f]] = static_cast<uint32_t>(t);
            }
            for (size_t j = 0; j < nb; ++j) s += scratch.seen[j] == t ? 0.0 : scratch.alone[j];
            first.offer(root ? -std::sqrt(s) : -s, t);
        }
    }

    // The columns the documents use, in increasing feature order and, for
    // one column, in document order; each with its first position.
    void collectUses(const DocumentVector* docs, size_t count, Scratch& scratch) const {
        const std::vector<int32_t>& features = training_.columnFeatures();
        scratch.uses.clear();
        for (size_t d = 0; d < count; ++d) {
            auto c = features.begin();
            for (const VectorEntry* e = docs[d].list(); e->wnum != 0; ++e) {
                c = std::lower_bound(c, features.end(), e->wnum);
                if (c == features.end()) break;
                if (*c == e->wnum)
                    scratch.uses.push_back({static_cast<uint32_t>(c - features.begin()), static_cast<uint32_t>(d), e->weight});
            }
        }
        std::sort(scratch.uses.begin(), scratch.uses.end(), [](const ColumnUse& x, const ColumnUse& y) {
            return x.column != y.column ? x.column < y.column : x.document < y.document;
        });
        scratch.cursors.assign(scratch.uses.size(), 0);
        scratch.runs.clear();
        for (size_t i = 0; i < scratch.uses.size(); ++i)
            if (i == 0 || scratch.uses[i].column != scratch.uses[i - 1].column) scratch.runs.push_back(i);
        scratch.runs.push_back(scratch.uses.size());
    }

    // Asks the processor to start loading where a column goes on from `at`:
    // a tile touches thousands of short stretches, and waiting for each in
    // turn costs more than the products.
    template <typename Column>
    static void prefetchStretch(const Column& column, size_t at) {
        if (at >= column.size) return;
        __builtin_prefetch(column.documents + at);
        __builtin_prefetch(column.weights + at);
        if (at + 8 < column.size) __builtin_prefetch(column.weights + at + 8);
    }

    // Each dot product is accumulated over the shared features in increasing
    // feature order, the very sum a merge of the two vectors makes, so the
    // similarities equal those of similarityOf to the last bit. The
    // training documents are taken a tile at a time and, within a tile,
    // each column's stretch serves every document that has the feature.
    void rankByCosine(const DocumentVector* docs, size_t count, Scratch& scratch) const {
        collectUses(docs, count, scratch);
        const std::vector<ColumnUse>& uses = scratch.uses;
        scratch.sums.resize(count * kTrainingTile);
        for (size_t t0 = 0; t0 < training_.size(); t0 += kTrainingTile) {
            const size_t t1 = std::min(training_.size(), t0 + kTrainingTile);
            std::fill(scratch.sums.begin(), scratch.sums.end(), 0.0);
            const std::vector<size_t>& runs = scratch.runs;
            for (size_t r = 0; r + 1 < runs.size(); ++r) {
                if (r + kColumnsAhead + 1 < runs.size()) {
                    const size_t ahead = runs[r + kColumnsAhead];
                    prefetchStretch(training_.column(uses[ahead].column), scratch.cursors[ahead]);
                }
                const size_t i = runs[r];
                const FeatureColumn column = training_.column(uses[i].column);
                const size_t begin = scratch.cursors[i];
                size_t end = begin;
                while (end < column.size && column.documents[end] < t1) ++end;
                scratch.cursors[i] = end;
                for (size_t j = i; j < runs[r + 1]; ++j) {
                    double* sums = scratch.sums.data() + uses[j].document * kTrainingTile;
                    const double wb = uses[j].weight;
                    for (size_t p = begin; p < end; ++p) sums[column.documents[p] - t0] += column.weights[p] * wb;
                }
            }
            for (size_t d = 0; d < count; ++d) {
                const double bRoot = std::sqrt(docs[d].twoNorm);
                const double* sums = scratch.sums.data() + d * kTrainingTile;
                for (size_t t = t0; t < t1; ++t) scratch.first[d].offer((sums[t - t0] / roots_[t]) / bRoot, t);
            }
        }
    }

    // The cosine with the bounds: a training document is summed in full
    // only when its bound reaches the k-th similarity kept so far. The
    // training documents are taken a tile at a time, and within a tile one
    // document at a time: its rare columns' stretches (rarely shared by the
    // task's other documents) are summed into one row that stays in the
    // processor's first cache. A document the bounds do not hold for is
    // summed with every training document.
    void rankByBounds(const DocumentVector* docs, size_t count, Scratch& scratch) const {
        scratch.uses.clear();
        scratch.queryGroups.clear();
        scratch.seeds.clear();
        scratch.bounded.assign(count, BoundedDocument());
        for (size_t d = 0; d < count; ++d) {
            const size_t usesBefore = scratch.uses.size();
            if (boundDocument(docs[d], d, scratch)) {
                scratch.bounded[d].uses = usesBefore;
                scratch.bounded[d].usesEnd = scratch.uses.size();
                seed(docs[d], d, usesBefore, scratch);
                continue;
            }
            scratch.uses.resize(usesBefore);
            rankEveryPair(docs[d], scratch.first[d], scratch);
        }
        scratch.cursors.assign(scratch.uses.size(), 0);
        scratch.sums.resize(kBoundTile);
        for (size_t t0 = 0; t0 < training_.size(); t0 += kBoundTile) {
            const size_t t1 = std::min(training_.size(), t0 + kBoundTile);
            for (size_t d = 0; d < count; ++d) {
                if (!scratch.bounded[d].bounded) continue;
                sumRareColumns(scratch.bounded[d], t0, t1, scratch);
                sweepTile(docs[d], d, t0, t1, scratch);
            }
        }
    }

    // The rare shares of the training documents [t0, t1) for one document,
    // into the first t1 - t0 sums; its uses' cursors move past the tile.
    void sumRareColumns(const BoundedDocument& state, size_t t0, size_t t1, Scratch& scratch) const {
        double* sums = scratch.sums.data();
        std::fill(sums, sums + (t1 - t0), 0.0);
        for (size_t i = state.uses; i < state.usesEnd; ++i) {
            if (i + kColumnsAhead < state.usesEnd) {
                const size_t ahead = i + kColumnsAhead;
                prefetchStretch(bounds_->column(scratch.uses[ahead].column), scratch.cursors[ahead]);
            }
            const BoundColumn column = bounds_->column(scratch.uses[i].column);
            const double wb = scratch.uses[i].weight;
            size_t p = scratch.cursors[i];
            for (; p < column.size && column.documents[p] < t1; ++p) sums[column.documents[p] - t0] += column.weight(p) * wb;
            scratch.cursors[i] = p;
        }
    }

    // Document d's uses of rare columns (weights normalised) and its group
    // norms, into the scratch; false when the bounds do not hold for it (a
    // weight or its norm out of their range) or it shares no feature with
    // the training documents.
    bool boundDocument(const DocumentVector& b, size_t d, Scratch& scratch) const {
        BoundedDocument& state = scratch.bounded[d];
        state.root = std::sqrt(b.twoNorm);
        if (!KnnCosineBounds::usableRoot(state.root)) return false;
        scratch.groupSquares.assign(bounds_->groupCount(), 0.0);
        bool shared = false;
        for (size_t j = 0; j < b.size(); ++j) {
            if (!KnnCosineBounds::usableWeight(b.words[j].weight)) return false;
            const int32_t place = bounds_->place(b.words[j].wnum);
            if (place == KnnCosineBounds::kAbsent) continue;
            shared = true;
            const double w = b.words[j].weight / state.root;
            if (place >= 0) scratch.uses.push_back({static_cast<uint32_t>(place), static_cast<uint32_t>(d), w});
            else scratch.groupSquares[static_cast<size_t>(-1 - place)] += w * w;
        }
        if (!shared) return false;
        state.groups = scratch.queryGroups.size();
        double all = 0.0;
        for (const double squares : scratch.groupSquares) {
            scratch.queryGroups.push_back(KnnCosineBounds::normUp(squares));
            all += squares;
        }
        scratch.queryGroups.resize(state.groups + bounds_->groupStride(), 0.0f);
        state.frequent = KnnCosineBounds::normUp(all);
        state.bounded = true;
        return true;
    }

    // Sums in full, before the tiles, the training documents that share
    // most with document d on its rarest features (its shortest columns, up
    // to a budget of entries), so that the k-th similarity is close to its
    // final value from the first tile on and the bounds rule out most
    // training documents. Its uses are those from usesBegin on.
    void seed(const DocumentVector& b, size_t d, size_t usesBegin, Scratch& scratch) const {
        BoundedDocument& state = scratch.bounded[d];
        std::vector<size_t>& order = scratch.order;
        order.resize(scratch.uses.size() - usesBegin);
        std::iota(order.begin(), order.end(), usesBegin);
        auto length = [&](size_t i) { return bounds_->column(scratch.uses[i].column).size; };
        std::sort(order.begin(), order.end(), [&](size_t x, size_t y) { return length(x) < length(y); });
        const size_t budget = std::max(kSeedEntries, training_.size() / kSeedShareInverse);
        std::vector<double>& sums = scratch.seedSums;  // all 0 between documents
        std::vector<uint8_t>& marks = scratch.seedMarks;
        std::vector<uint32_t>& touched = scratch.touched;
        sums.resize(training_.size(), 0.0);
        marks.resize(training_.size(), 0);
        touched.clear();
        size_t taken = 0;
        for (const size_t i : order) {
            const BoundColumn column = bounds_->column(scratch.uses[i].column);
            if (taken > 0 && taken + column.size > budget) break;
            taken += column.size;
            for (size_t p = 0; p < column.size; ++p) {
                const uint32_t t = column.documents[p];
                if (!marks[t]) touched.push_back(t);
                marks[t] = 1;
                sums[t] += column.weight(p) * scratch.uses[i].weight;
            }
        }
        const size_t wanted = std::min(touched.size(), kSeedsPerNeighbour * static_cast<size_t>(k_));
        std::nth_element(touched.begin(), touched.begin() + static_cast<std::ptrdiff_t>(wanted), touched.end(),
                         [&](uint32_t x, uint32_t y) { return sums[x] > sums[y]; });
        state.seeds = scratch.seeds.size();
        scratch.seeds.insert(scratch.seeds.end(), touched.begin(), touched.begin() + static_cast<std::ptrdiff_t>(wanted));
        for (const uint32_t t : touched) {
            sums[t] = 0.0;
            marks[t] = 0;
        }
        std::sort(scratch.seeds.begin() + static_cast<std::ptrdiff_t>(state.seeds), scratch.seeds.end());
        state.seedsEnd = scratch.seeds.size();
        if (wanted == 0) return;
        fillTable(b, scratch);
        for (size_t i = state.seeds; i < state.seedsEnd; ++i)
            scratch.first[d].offer(exactCosine(scratch.seeds[i], b, state.root, scratch), scratch.seeds[i]);
        clearTable(b, scratch);
    }

    // Offers document d the training documents of [t0, t1) whose bound
    // reaches the k-th similarity kept so far (the cheap one-product bound
    // first, then the group one), each with its exact similarity; its seeds
    // were offered already. A bound below that similarity leaves the
    // training document out, since the ranking is a strict order that a
    // document of lower similarity can never enter; a NaN bound or k-th
    // similarity rules nothing out.
    void sweepTile(const DocumentVector& b, size_t d, size_t t0, size_t t1, Scratch& scratch) const {
        const BoundedDocument& state = scratch.bounded[d];
        FirstK& first = scratch.first[d];
        const double* sums = scratch.sums.data();
        const float* query = scratch.queryGroups.data() + state.groups;
        const auto seedsBegin = scratch.seeds.begin() + static_cast<std::ptrdiff_t>(state.seeds);
        const auto seedsEnd = scratch.seeds.begin() + static_cast<std::ptrdiff_t>(state.seedsEnd);
        bool filled = false;
        double threshold = first.threshold();
        for (size_t t = t0; t < t1; ++t) {
            const double rare = sums[t - t0];
            if (KnnCosineBounds::upper(rare, bounds_->frequentNorm(t) * state.frequent) < threshold) continue;
            if (KnnCosineBounds::upper(rare, bounds_->groupShare(t, query)) < threshold) continue;
            if (std::binary_search(seedsBegin, seedsEnd, static_cast<uint32_t>(t))) continue;
            if (!filled) fillTable(b, scratch);
            filled = true;
            first.offer(exactCosine(t, b, state.root, scratch), t);
            threshold = first.threshold();
        }
        if (filled) clearTable(b, scratch);
    }

    // Every training document summed in full, for a document the bounds do
    // not hold for; without a shared feature every dot product is 0.
    void rankEveryPair(const DocumentVector& b, FirstK& first, Scratch& scratch) const {
        const double root = std::sqrt(b.twoNorm);
        bool shared = false;
        for (size_t j = 0; j < b.size() && !shared; ++j)
            shared = bounds_->place(b.words[j].wnum) != KnnCosineBounds::kAbsent;
        if (!shared) {
            for (size_t t = 0; t < training_.size(); ++t) first.offer((0.0 / roots_[t]) / root, t);
            return;
        }
        fillTable(b, scratch);
        for (size_t t = 0; t < training_.size(); ++t) first.offer(exactCosine(t, b, root, scratch), t);
        clearTable(b, scratch);
    }

    // similarityOf's value for training document t: the products over the
    // shared features in increasing feature order, then the two divisions.
    // With the table, each training entry finds b's weight in one look-up;
    // a feature b lacks adds a * 0 = +0, which leaves the sum as it is (the
    // training weights are finite and >= 0 here, and a sum that starts at
    // +0 never becomes -0).
    double exactCosine(size_t t, const DocumentVector& b, double root, const Scratch& scratch) const {
        const SparseRow row = training_.row(t);
        if (tableSize_ == 0)
            return similarityBetween(RowView{row}, training_.squaredNorm(t), EntryView{b.list(), b.size()}, b.twoNorm,
                                     Similarity::Cosine);
        const double* table = scratch.table.data();
        double dot = 0.0;
        for (size_t i = 0; i < row.size; ++i) dot += row.weights[i] * table[row.features[i]];
        return (dot / roots_[t]) / root;
    }

    // Spreads b's weights over the table by feature number (the first of
    // equal features wins, as in a merge); clearTable puts the zeros back.
    void fillTable(const DocumentVector& b, Scratch& scratch) const {
        if (tableSize_ == 0) return;
        scratch.table.resize(tableSize_, 0.0);
        for (size_t j = b.size(); j-- > 0;) {
            const int32_t f = b.words[j].wnum;
            if (f > 0 && static_cast<size_t>(f) < tableSize_) scratch.table[static_cast<size_t>(f)] = b.words[j].weight;
        }
    }
    void clearTable(const DocumentVector& b, Scratch& scratch) const {
        if (tableSize_ == 0) return;
        for (size_t j = 0; j < b.size(); ++j) {
            const int32_t f = b.words[j].wnum;
            if (f > 0 && static_cast<size_t>(f) < tableSize_) scratch.table[static_cast<size_t>(f)] = 0.0;
        }
    }

    const KnnTrainingSet& training_;
    Similarity code_;
    uint32_t k_;
    uint32_t categoryCount_;
    std::vector<double> roots_;  // square roots of the training norms (cosine)
    const KnnCosineBounds* bounds_ = nullptr;
    size_t tableSize_ = 0;  // feature numbers the exact sums' table holds; 0: merge instead
};

// Work spaces handed from worker to worker, so that each thread fills one
// and no document allocates its own.
class ScratchPool {
public:
    std::unique_ptr<Scratch> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.empty()) return std::make_unique<Scratch>();
        std::unique_ptr<Scratch> scratch = std::move(free_.back());
        free_.pop_back();
        return scratch;
    }
    void give(std::unique_ptr<Scratch> scratch) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(scratch));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<Scratch>> free_;
};

// Classifies docs[0, count) into assigned[0, count) on every core; false
// when cancelled. Progress counts from doneBefore towards total.
inline bool classifyBlock(const Scorer& scorer, ScratchPool& pool, const DocumentVector* docs, size_t count,
                   int32_t* assigned, unsigned threads, ProgressSink* sink, uint64_t doneBefore, uint64_t total) {
    // Few documents are spread over every worker rather than given to one.
    const size_t workers = workerCount(threads, count);
    const size_t perTask = std::clamp<size_t>((count + workers - 1) / workers, 1, kDocumentsPerTask);
    const size_t tasks = (count + perTask - 1) / perTask;
    return parallelFor(
        tasks, threads,
        [&](size_t task) {
            std::unique_ptr<Scratch> scratch = pool.take();
            const size_t first = task * perTask;
            scorer.classify(docs + first, std::min(count - first, perTask), assigned + first, *scratch);
            pool.give(std::move(scratch));
        },
        [&] { return sink && sink->cancelled(); },
        [&](size_t done) {
            if (sink) sink->progress("classify", doneBefore + std::min(count, done * perTask), total);
        });
}

}  // namespace kestrel::knn
