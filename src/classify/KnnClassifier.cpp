#include "classify/KnnClassifier.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "classify/svm/CSVM.h"
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
// id, g(a) where only A has it, then g(b) for the ids only B has; the A
// entries come first in id order, then the rest of B, as the sums are defined.
template <typename Both, typename One>
double mergeSum(const SparseVector& a, const SparseVector& b, Both both, One one) {
    double s = 0.0;
    size_t j = 0;
    for (const auto& [id, wa] : a) {
        while (j < b.size() && b[j].first < id) ++j;
        if (j < b.size() && b[j].first == id) s += both(wa, b[j].second);
        else s += one(wa);
    }
    // Entries of B without a partner in A, in increasing id.
    size_t i = 0;
    for (const auto& [id, wb] : b) {
        while (i < a.size() && a[i].first < id) ++i;
        if (i < a.size() && a[i].first == id) continue;
        s += one(wb);
    }
    return s;
}

}  // namespace

double squaredNorm(const SparseVector& v) {
    double s = 0.0;
    for (const auto& e : v) s += e.second * e.second;
    return s;
}

double KnnClassifier::similarityOf(const SparseVector& a, double aSquaredNorm, const SparseVector& b,
                                   double bSquaredNorm, uint32_t code) {
    if (code == kCosine) {
        double dot = 0.0;
        size_t j = 0;
        for (const auto& [id, wa] : a) {
            while (j < b.size() && b[j].first < id) ++j;
            if (j < b.size() && b[j].first == id) dot += wa * b[j].second;
        }
        return (dot / std::sqrt(aSquaredNorm)) / std::sqrt(bSquaredNorm);
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

namespace {

// Calls fn(line, wellFormed) for every document line of a vector file (not
// blank, not a '#' comment, as the SVM reads them); lines the SVM's reader
// rejects are counted in `report`.
template <typename Fn>
void forEachVectorLine(std::string_view content, SvmReadReport& report, Fn fn) {
    SvmDoc scratch;
    std::string reason;
    int64_t number = 0;
    forEachLine(content, [&](std::string_view line) {
        ++number;
        if (line.find_first_not_of(" \t\v\f") == std::string_view::npos || line[0] == '#') return;
        long label = 0;
        const bool wellFormed = CSVM::parseDocumentLine(line, scratch, label, INT64_MAX, &reason);
        if (!wellFormed && report.rejected++ == 0) {
            report.firstRejectedLine = number;
            report.firstReason = reason;
        }
        fn(line, wellFormed);
    });
}

}  // namespace

bool KnnClassifier::loadTraining() {
    const std::string path = workspacePath + "train.dat";
    const Result<std::string> content = readFile(path);
    if (!content) {
        error_ = content.message();
        return false;
    }
    training_.clear();
    SvmReadReport report;
    forEachVectorLine(*content, report, [&](std::string_view line, bool wellFormed) {
        if (!wellFormed) return;
        std::string_view items;
        TrainingDocument doc;
        doc.category = static_cast<int32_t>(splitVectorLine(line, items) - 1);
        doc.vector = parseSparseVector(items);
        doc.squaredNorm = squaredNorm(doc.vector);
        training_.push_back(std::move(doc));
    });
    trainingWarning_ = report.rejected ? skippedLinesNote(report, path) : std::string();
    trainingLoaded = true;
    return true;
}

std::vector<int32_t> KnnClassifier::classifyFile(const std::string& path, ProgressSink* sink) {
    error_.clear();
    warning_.clear();
    std::vector<int32_t> result;
    if (!trainingLoaded && !loadTraining()) return result;
    warning_ = trainingWarning_;
    const Result<std::string> read = readFile(path);
    if (!read) {
        error_ = read.message();
        return result;
    }
    const std::string& content = *read;

    std::vector<SparseVector> docs;
    SvmReadReport report;
    forEachVectorLine(content, report, [&](std::string_view line, bool wellFormed) {
        std::string_view items;
        splitVectorLine(line, items);
        docs.push_back(wellFormed ? parseSparseVector(items) : SparseVector());
    });
    if (report.rejected) warning_ += (warning_.empty() ? "" : "; ") + skippedLinesNote(report, path);
    result.assign(docs.size(), 0);
    if (docs.empty()) return result;

    const size_t n = training_.size();
    std::vector<int32_t> categories(n);
    for (size_t t = 0; t < n; ++t) categories[t] = training_[t].category;

    // Cosine similarities come from an inverted index of the training
    // vectors: each dot product is accumulated over the shared ids in
    // increasing id order, exactly the sum a merge of the two vectors makes.
    std::vector<std::vector<std::pair<uint32_t, double>>> postings;
    std::vector<uint32_t> postingIds;
    if (similarity == kCosine) {
        std::vector<std::pair<uint32_t, std::pair<uint32_t, double>>> all;
        for (uint32_t t = 0; t < n; ++t)
            for (const auto& [id, w] : training_[t].vector) all.push_back({id, {t, w}});
        std::stable_sort(all.begin(), all.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& [id, entry] : all) {
            if (postingIds.empty() || postingIds.back() != id) {
                postingIds.push_back(id);
                postings.emplace_back();
            }
            postings.back().push_back(entry);
        }
    }

    auto classifyOne = [&](size_t d) {
        std::vector<double> sims(n, 0.0);
        const SparseVector& b = docs[d];
        const double bNorm = squaredNorm(b);
        if (similarity == kCosine) {
            size_t p = 0;
            for (const auto& [id, wb] : b) {
                p = static_cast<size_t>(
                    std::lower_bound(postingIds.begin() + static_cast<long>(p), postingIds.end(), id) -
                    postingIds.begin());
                if (p == postingIds.size()) break;
                if (postingIds[p] != id) continue;
                for (const auto& [t, wa] : postings[p]) sims[t] += wa * wb;
            }
            const double bRoot = std::sqrt(bNorm);
            for (size_t t = 0; t < n; ++t) sims[t] = (sims[t] / std::sqrt(training_[t].squaredNorm)) / bRoot;
        } else {
            for (size_t t = 0; t < n; ++t)
                sims[t] = similarityOf(training_[t].vector, training_[t].squaredNorm, b, bNorm, similarity);
        }
        std::vector<uint32_t> order;
        result[d] = voteRanked(sims.data(), categories.data(), n, k, categoryCount, order);
    };
    const bool finished = parallelFor(
        docs.size(), threads, classifyOne, [&] { return sink && sink->cancelled(); },
        [&](size_t done) {
            if (sink) sink->progress("classify", done, docs.size());
        });
    if (!finished) {
        error_ = "classification cancelled";
        result.clear();
    }
    return result;
}

}  // namespace kestrel
