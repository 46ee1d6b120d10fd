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
// Documents one worker takes at a time.
constexpr size_t kDocumentsPerTask = 8;

// Ranking of neighbours: larger similarity first; undefined (NaN) after every
// defined one; equal similarities in training order.
struct NeighbourOrder {
    const double* sims;
    bool operator()(size_t i, size_t j) const {
        const double a = sims[i];
        const double b = sims[j];
        const bool na = std::isnan(a);
        const bool nb = std::isnan(b);
        if (na != nb) return nb;
        if (!na && a != b) return a > b;
        return i < j;
    }
};

// Work space of one worker.
struct Scratch {
    std::vector<double> sims;     // similarity to every training document
    std::vector<uint32_t> best;   // the k first so far, as a heap
    std::vector<uint32_t> votes;  // per category
};

// The winning category of the k training documents that rank first by
// `sims`. The k first so far are kept in a heap whose top is the last of
// them, so most documents are compared once, with that top, and dropped.
// The ranking is a strict order, so any selection finds the same k
// documents, and the vote depends on nothing else.
int32_t voteOfTheFirst(const double* sims, const int32_t* categories, size_t count, uint32_t k,
                       uint32_t categoryCount, Scratch& scratch) {
    const size_t take = std::min<size_t>(k, count);
    const NeighbourOrder before{sims};
    std::vector<uint32_t>& best = scratch.best;
    best.clear();
    for (size_t t = 0; t < count && take > 0; ++t) {
        if (best.size() < take) {
            best.push_back(static_cast<uint32_t>(t));
            std::push_heap(best.begin(), best.end(), before);
        } else if (before(t, best.front())) {
            std::pop_heap(best.begin(), best.end(), before);
            best.back() = static_cast<uint32_t>(t);
            std::push_heap(best.begin(), best.end(), before);
        }
    }
    std::vector<uint32_t>& votes = scratch.votes;
    votes.assign(categoryCount, 0);
    for (const uint32_t t : best) {
        const int32_t c = categories[t];
        if (c >= 0 && static_cast<uint32_t>(c) < categoryCount) ++votes[static_cast<uint32_t>(c)];
    }
    int32_t winner = 0;
    uint32_t winnerVotes = 0;
    for (uint32_t c = 0; c < categoryCount; ++c) {
        if (votes[c] > winnerVotes) {
            winnerVotes = votes[c];
            winner = static_cast<int32_t>(c);
        }
    }
    return winner;
}

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

    int32_t classify(const DocumentVector& b, Scratch& scratch) const {
        const size_t n = training_.size();
        scratch.sims.resize(n);
        double* sims = scratch.sims.data();
        if (code_ == KnnClassifier::kCosine) {
            cosineSimilarities(b, sims);
        } else {
            const EntryView bView{b.list(), b.size()};
            for (size_t t = 0; t < n; ++t)
                sims[t] = similarityBetween(RowView{training_.row(t)}, training_.squaredNorm(t), bView, b.twoNorm, code_);
        }
        return voteOfTheFirst(sims, training_.categories().data(), n, k_, categoryCount_, scratch);
    }

private:
    // Each dot product is accumulated over the shared features in increasing
    // feature order, the very sum a merge of the two vectors makes, so the
    // similarities equal those of similarityOf to the last bit.
    void cosineSimilarities(const DocumentVector& b, double* sims) const {
        std::fill(sims, sims + training_.size(), 0.0);
        const std::vector<int32_t>& features = training_.columnFeatures();
        auto c = features.begin();
        for (const VectorEntry* e = b.list(); e->wnum != 0; ++e) {
            c = std::lower_bound(c, features.end(), e->wnum);
            if (c == features.end()) break;
            if (*c != e->wnum) continue;
            const FeatureColumn column = training_.column(static_cast<size_t>(c - features.begin()));
            const double wb = e->weight;
            for (size_t i = 0; i < column.size; ++i) sims[column.documents[i]] += column.weights[i] * wb;
        }
        const double bRoot = std::sqrt(b.twoNorm);
        for (size_t t = 0; t < training_.size(); ++t) sims[t] = (sims[t] / roots_[t]) / bRoot;
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
    const size_t tasks = (count + kDocumentsPerTask - 1) / kDocumentsPerTask;
    return parallelFor(
        tasks, threads,
        [&](size_t task) {
            std::unique_ptr<Scratch> scratch = pool.take();
            const size_t end = std::min(count, (task + 1) * kDocumentsPerTask);
            for (size_t d = task * kDocumentsPerTask; d < end; ++d) assigned[d] = scorer.classify(docs[d], *scratch);
            pool.give(std::move(scratch));
        },
        [&] { return sink && sink->cancelled(); },
        [&](size_t done) {
            if (sink) sink->progress("classify", doneBefore + std::min(count, done * kDocumentsPerTask), total);
        });
}

}  // namespace

double KnnClassifier::similarityOf(const DocumentVector& a, const DocumentVector& b, uint32_t code) {
    return similarityBetween(EntryView{a.list(), a.size()}, a.twoNorm, EntryView{b.list(), b.size()}, b.twoNorm, code);
}

int32_t KnnClassifier::vote(const std::vector<Neighbour>& neighbours, uint32_t k, uint32_t categoryCount) {
    std::vector<double> sims(neighbours.size());
    std::vector<int32_t> cats(neighbours.size());
    for (size_t i = 0; i < neighbours.size(); ++i) {
        sims[i] = neighbours[i].similarity;
        cats[i] = neighbours[i].category;
    }
    Scratch scratch;
    return voteOfTheFirst(sims.data(), cats.data(), sims.size(), k, categoryCount, scratch);
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
    // Each document is released once copied, so the two forms are never
    // held in full at once.
    training_ = KnnTrainingSet();
    for (size_t i = 0; i < vectors.docs.size(); ++i) {
        training_.add(static_cast<int32_t>(vectors.labels[i] - 1), vectors.docs[i]);
        vectors.docs[i].words = std::vector<VectorEntry>();
    }
    vectors.docs = std::vector<DocumentVector>();
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
