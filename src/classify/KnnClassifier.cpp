#include "classify/KnnClassifier.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

#include "common/ParallelFor.h"
#include "common/Progress.h"

namespace kestrel {

namespace {

// Documents of a vector file classified at a time, and the entries they may
// hold together: the file is read block by block.
constexpr size_t kStreamDocuments = 4096;
constexpr size_t kStreamEntries = size_t(1) << 20;
// Documents one worker takes at a time: the cosine scores them together,
// so that each stretch of a feature's column is read from memory once for
// all of them.
constexpr size_t kDocumentsPerTask = 128;
// Training documents whose dot products are accumulated at a time, so that
// the sums of a task's documents stay in the processor's cache.
constexpr size_t kTrainingTile = 1024;

// Columns whose next stretch is fetched ahead of use.
constexpr size_t kColumnsAhead = 8;

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
double mergeSum(const A& a, const B& b, Both both, One one) {
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
double similarityBetween(const A& a, double aNorm, const B& b, double bNorm, uint32_t code) {
    if (code == KnnClassifier::kCosine) {
        double dot = 0.0;
        size_t j = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            while (j < b.size() && b.feature(j) < a.feature(i)) ++j;
            if (j < b.size() && b.feature(j) == a.feature(i)) dot += a.weight(i) * b.weight(j);
        }
        return (dot / std::sqrt(aNorm)) / std::sqrt(bNorm);
    }
    if (code == KnnClassifier::kEuclidean) {
        const double s = mergeSum(
            a, b, [](double x, double y) { return (x - y) * (x - y); }, [](double x) { return x * x; });
        return -std::sqrt(s);
    }
    return -mergeSum(
        a, b, [](double x, double y) { return std::fabs(x - y); }, [](double x) { return std::fabs(x); });
}

// One classification: the training set in the form its measure reads, and
// what every document's scoring shares.
class Scorer {
public:
    Scorer(const KnnTrainingSet& training, uint32_t code, uint32_t k, uint32_t categoryCount)
        : training_(training), code_(code), k_(k), categoryCount_(categoryCount) {
        if (code_ != KnnClassifier::kCosine) return;
        roots_.resize(training.size());
        for (size_t t = 0; t < roots_.size(); ++t) roots_[t] = std::sqrt(training.squaredNorm(t));
    }

    // Classifies docs[0, count) into assigned[0, count).
    void classify(const DocumentVector* docs, size_t count, int32_t* assigned, Scratch& scratch) const {
        scratch.first.resize(count);
        for (size_t d = 0; d < count; ++d) scratch.first[d].reset(k_);
        if (code_ == KnnClassifier::kCosine) {
            rankByCosine(docs, count, scratch);
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
            if (code_ == KnnClassifier::kEuclidean) rankByTable(b, squared, true, first, scratch);
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

    // Asks the processor to start loading where the column of the run at
    // `use` goes on: a tile touches thousands of short stretches, and
    // waiting for each in turn costs more than the products.
    void prefetchStretch(const Scratch& scratch, size_t use) const {
        const FeatureColumn column = training_.column(scratch.uses[use].column);
        const size_t at = scratch.cursors[use];
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
                if (r + kColumnsAhead + 1 < runs.size()) prefetchStretch(scratch, runs[r + kColumnsAhead]);
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

    const KnnTrainingSet& training_;
    uint32_t code_;
    uint32_t k_;
    uint32_t categoryCount_;
    std::vector<double> roots_;  // square roots of the training norms (cosine)
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
bool classifyBlock(const Scorer& scorer, ScratchPool& pool, const DocumentVector* docs, size_t count,
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

}  // namespace

double KnnClassifier::similarityOf(const DocumentVector& a, const DocumentVector& b, uint32_t code) {
    return similarityBetween(EntryView{a.list(), a.size()}, a.twoNorm, EntryView{b.list(), b.size()}, b.twoNorm, code);
}

int32_t KnnClassifier::vote(const std::vector<Neighbour>& neighbours, uint32_t k, uint32_t categoryCount) {
    FirstK first;
    first.reset(k);
    std::vector<int32_t> categories(neighbours.size());
    for (size_t i = 0; i < neighbours.size(); ++i) {
        first.offer(neighbours[i].similarity, i);
        categories[i] = neighbours[i].category;
    }
    std::vector<uint32_t> votes;
    return first.winner(categories.data(), categoryCount, votes);
}

Status KnnClassifier::loadTraining() {
    // The same file (a hard link to it, too) in the same state holds the
    // same vectors. The distances read rows, which turning the set into
    // columns for the cosine gave up: they are read again.
    const std::string path = workspacePath + "train.dat";
    const FileIdentity before = FileIdentity::of(path);
    const bool rows = similarity != kCosine;
    if (!(before == trainingIdentity_) || (rows && !training_.hasRows())) {
        training_ = KnnTrainingSet();
        trainingIdentity_ = FileIdentity();
        VectorFileReader reader(path, RejectedLines::kSkip);
        Status read = reader.open();
        DocumentVector doc;
        long label = 0;
        bool rejected = false;
        while (read && reader.next(doc, label, rejected)) training_.add(static_cast<int32_t>(label - 1), doc);
        if (read) read = reader.status();
        if (!read) {
            training_ = KnnTrainingSet();
            return read;
        }
        trainingWarning_ = reader.report().rejected ? skippedLinesNote(reader.report(), path) : std::string();
        // A file that changed while it was read is used once and read again
        // next time.
        trainingIdentity_ = FileIdentity::of(path) == before ? before : FileIdentity();
    }
    if (!rows) training_.buildColumns();
    return Status();
}

void KnnClassifier::adoptTraining(const std::string& path, VectorSet&& vectors) {
    training_ = KnnTrainingSet();
    training_.addAll(std::move(vectors));
    trainingWarning_.clear();
    trainingIdentity_ = FileIdentity::of(path);
}

Result<std::vector<int32_t>> KnnClassifier::classifyFile(const std::string& path, ProgressSink* sink,
                                                         uint64_t expected) {
    warning_.clear();
    fileWarning_.clear();
    VectorFileReader reader(path, RejectedLines::kKeepEmpty);
    if (Status opened = reader.open(); !opened) return opened;
    if (Status loaded = loadTraining(); !loaded) return loaded;
    warning_ = trainingWarning_;
    const Scorer scorer(training_, similarity, k, categoryCount);
    ScratchPool pool;
    std::vector<int32_t> result;
    std::vector<DocumentVector> block(kStreamDocuments);
    for (;;) {
        size_t count = 0;
        size_t entries = 0;
        long label = 0;
        bool rejected = false;
        while (count < block.size() && entries < kStreamEntries && reader.next(block[count], label, rejected))
            entries += block[count++].size();
        if (count == 0) break;
        const size_t before = result.size();
        result.resize(before + count);
        if (!classifyBlock(scorer, pool, block.data(), count, result.data() + before, threads, sink, before,
                           std::max<uint64_t>(expected, before + count)))
            return Status::failure("classification cancelled");
    }
    if (!reader.status()) return reader.status();
    if (reader.report().rejected) {
        fileWarning_ = skippedLinesNote(reader.report(), path);
        warning_ += (warning_.empty() ? "" : "; ") + fileWarning_;
    }
    return result;
}

Result<std::vector<int32_t>> KnnClassifier::classify(const std::vector<DocumentVector>& docs, ProgressSink* sink) {
    warning_.clear();
    fileWarning_.clear();
    if (Status loaded = loadTraining(); !loaded) return loaded;
    warning_ = trainingWarning_;
    std::vector<int32_t> result(docs.size(), 0);
    if (docs.empty()) return result;
    const Scorer scorer(training_, similarity, k, categoryCount);
    ScratchPool pool;
    if (!classifyBlock(scorer, pool, docs.data(), docs.size(), result.data(), threads, sink, 0, docs.size()))
        return Status::failure("classification cancelled");
    return result;
}

}  // namespace kestrel
