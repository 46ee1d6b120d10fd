#include "classify/KnnClassifier.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>

#include "common/FileSystem.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"

namespace kestrel {

namespace {

// Ranking of neighbours: larger similarity first; undefined (NaN) after every
// defined one; equal similarities in training order.
struct NeighbourOrder {
    const double* sims;
    bool operator()(uint32_t i, uint32_t j) const {
        const double a = sims[i];
        const double b = sims[j];
        const bool na = std::isnan(a);
        const bool nb = std::isnan(b);
        if (na != nb) return nb;
        if (!na && a != b) return a > b;
        return i < j;
    }
};

int32_t voteRanked(const double* sims, const int32_t* categories, size_t count, uint32_t k,
                   uint32_t categoryCount, std::vector<uint32_t>& order) {
    order.resize(count);
    std::iota(order.begin(), order.end(), 0u);
    const size_t take = std::min<size_t>(k, count);
    std::partial_sort(order.begin(), order.begin() + static_cast<long>(take), order.end(), NeighbourOrder{sims});
    std::vector<uint32_t> votes(categoryCount, 0);
    for (size_t n = 0; n < take; ++n) {
        const int32_t c = categories[order[n]];
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

// Sum over a merge of the two ordered vectors: f(a, b) where both have the
// feature, g(a) where only A has it, then g(b) for the features only B has;
// the A entries come first in feature order, then the rest of B, as the sums
// are defined.
template <typename Both, typename One>
double mergeSum(const DocumentVector& a, const DocumentVector& b, Both both, One one) {
    double s = 0.0;
    const VectorEntry* q = b.list();
    for (const VectorEntry* p = a.list(); p->wnum != 0; ++p) {
        while (q->wnum != 0 && q->wnum < p->wnum) ++q;
        if (q->wnum == p->wnum) s += both(p->weight, q->weight);
        else s += one(p->weight);
    }
    // Entries of B without a partner in A, in increasing feature number.
    const VectorEntry* p = a.list();
    for (q = b.list(); q->wnum != 0; ++q) {
        while (p->wnum != 0 && p->wnum < q->wnum) ++p;
        if (p->wnum != q->wnum) s += one(q->weight);
    }
    return s;
}

// Cosine similarities come from an inverted index of the training vectors:
// each dot product is accumulated over the shared features in increasing
// feature order, exactly the sum a merge of the two vectors makes.
class CosineIndex {
public:
    explicit CosineIndex(const std::vector<KnnClassifier::TrainingDocument>& training) : training_(training) {
        std::vector<std::pair<int32_t, std::pair<uint32_t, double>>> all;
        for (uint32_t t = 0; t < training.size(); ++t)
            for (const VectorEntry* e = training[t].vector.list(); e->wnum != 0; ++e)
                all.push_back({e->wnum, {t, e->weight}});
        std::stable_sort(all.begin(), all.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& [feature, entry] : all) {
            if (features_.empty() || features_.back() != feature) {
                features_.push_back(feature);
                postings_.emplace_back();
            }
            postings_.back().push_back(entry);
        }
    }

    // The cosine similarity of every training document with b.
    void similarities(const DocumentVector& b, std::vector<double>& sims) const {
        sims.assign(training_.size(), 0.0);
        size_t p = 0;
        for (const VectorEntry* e = b.list(); e->wnum != 0; ++e) {
            p = static_cast<size_t>(std::lower_bound(features_.begin() + static_cast<long>(p), features_.end(), e->wnum) -
                                    features_.begin());
            if (p == features_.size()) break;
            if (features_[p] != e->wnum) continue;
            for (const auto& [t, wa] : postings_[p]) sims[t] += wa * e->weight;
        }
        const double bRoot = std::sqrt(b.twoNorm);
        for (size_t t = 0; t < sims.size(); ++t) sims[t] = (sims[t] / std::sqrt(training_[t].vector.twoNorm)) / bRoot;
    }

private:
    const std::vector<KnnClassifier::TrainingDocument>& training_;
    std::vector<int32_t> features_;
    std::vector<std::vector<std::pair<uint32_t, double>>> postings_;
};

}  // namespace

double KnnClassifier::similarityOf(const DocumentVector& a, const DocumentVector& b, uint32_t code) {
    if (code == kCosine) {
        double dot = 0.0;
        const VectorEntry* q = b.list();
        for (const VectorEntry* p = a.list(); p->wnum != 0; ++p) {
            while (q->wnum != 0 && q->wnum < p->wnum) ++q;
            if (q->wnum == p->wnum) dot += p->weight * q->weight;
        }
        return (dot / std::sqrt(a.twoNorm)) / std::sqrt(b.twoNorm);
    }
    if (code == kEuclidean) {
        const double s = mergeSum(
            a, b, [](double x, double y) { return (x - y) * (x - y); }, [](double x) { return x * x; });
        return -std::sqrt(s);
    }
    return -mergeSum(
        a, b, [](double x, double y) { return std::fabs(x - y); }, [](double x) { return std::fabs(x); });
}

int32_t KnnClassifier::vote(const std::vector<Neighbour>& neighbours, uint32_t k, uint32_t categoryCount) {
    std::vector<double> sims(neighbours.size());
    std::vector<int32_t> cats(neighbours.size());
    for (size_t i = 0; i < neighbours.size(); ++i) {
        sims[i] = neighbours[i].similarity;
        cats[i] = neighbours[i].category;
    }
    std::vector<uint32_t> order;
    return voteRanked(sims.data(), cats.data(), sims.size(), k, categoryCount, order);
}

Status KnnClassifier::loadTraining() {
    // The same file (a hard link to it, too) in the same state holds the
    // same vectors.
    const std::string path = workspacePath + "train.dat";
    const FileIdentity before = FileIdentity::of(path);
    if (before == trainingIdentity_) return Status();
    training_.clear();
    trainingIdentity_ = FileIdentity();
    auto file = readVectorFile(path, RejectedLines::kSkip);
    if (!file) return file.status();
    takeTraining(std::move(*file));
    trainingWarning_ = file->report.rejected ? skippedLinesNote(file->report, path) : std::string();
    // A file that changed while it was read is used once and read again
    // next time.
    trainingIdentity_ = FileIdentity::of(path) == before ? before : FileIdentity();
    return Status();
}

void KnnClassifier::adoptTraining(const std::string& path, VectorSet&& vectors) {
    takeTraining(std::move(vectors));
    trainingWarning_.clear();
    trainingIdentity_ = FileIdentity::of(path);
}

void KnnClassifier::takeTraining(VectorSet&& vectors) {
    training_.clear();
    training_.reserve(vectors.docs.size());
    for (size_t i = 0; i < vectors.docs.size(); ++i)
        training_.push_back({static_cast<int32_t>(vectors.labels[i] - 1), std::move(vectors.docs[i])});
}

Result<std::vector<int32_t>> KnnClassifier::classifyFile(const std::string& path, ProgressSink* sink) {
    auto file = readVectorFile(path, RejectedLines::kKeepEmpty);
    if (!file) return file.status();
    auto result = classify(file->docs, sink);
    if (file->report.rejected) warning_ += (warning_.empty() ? "" : "; ") + skippedLinesNote(file->report, path);
    return result;
}

Result<std::vector<int32_t>> KnnClassifier::classify(const std::vector<DocumentVector>& docs, ProgressSink* sink) {
    warning_.clear();
    if (Status loaded = loadTraining(); !loaded) return loaded;
    warning_ = trainingWarning_;
    std::vector<int32_t> result(docs.size(), 0);
    if (docs.empty()) return result;

    const size_t n = training_.size();
    std::vector<int32_t> categories(n);
    for (size_t t = 0; t < n; ++t) categories[t] = training_[t].category;
    std::unique_ptr<CosineIndex> cosine;
    if (similarity == kCosine) cosine = std::make_unique<CosineIndex>(training_);

    auto classifyOne = [&](size_t d) {
        std::vector<double> sims(n, 0.0);
        const DocumentVector& b = docs[d];
        if (cosine) {
            cosine->similarities(b, sims);
        } else {
            for (size_t t = 0; t < n; ++t) sims[t] = similarityOf(training_[t].vector, b, similarity);
        }
        std::vector<uint32_t> order;
        result[d] = voteRanked(sims.data(), categories.data(), n, k, categoryCount, order);
    };
    const bool finished = parallelFor(
        docs.size(), threads, classifyOne, [&] { return sink && sink->cancelled(); },
        [&](size_t done) {
            if (sink) sink->progress("classify", done, docs.size());
        });
    if (!finished) return Status::failure("classification cancelled");
    return result;
}

}  // namespace kestrel
