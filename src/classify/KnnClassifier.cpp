#include "classify/KnnClassifier.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "classify/KnnScorer.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"

namespace kestrel {

namespace {

// Documents of a vector file read and classified at a time, and about the
// text they may take (some ten bytes an entry, so about a million entries):
// the file is read block by block.
constexpr size_t kStreamDocuments = 4096;
constexpr size_t kStreamBytes = size_t(12) << 20;

}  // namespace

using namespace knn;

double KnnClassifier::similarityOf(const DocumentVector& a, const DocumentVector& b, Similarity code) {
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
    const bool rows = similarity != Similarity::Cosine;
    if (!(before == trainingIdentity_) || (rows && !training_.hasRows())) {
        training_ = KnnTrainingSet();
        bounds_ = KnnCosineBounds();
        trainingIdentity_ = FileIdentity();
        VectorFileReader reader(path, RejectedLines::kSkip);
        Status read = reader.open();
        VectorFileReader::Batch batch;
        while (read && reader.nextBatch(batch, kStreamDocuments, kStreamBytes, threads) > 0) {
            for (size_t i = 0; i < batch.size(); ++i)
                training_.add(static_cast<int32_t>(batch.labels[i] - 1), batch.docs[i]);
        }
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
    // The cosine on a large training set keeps the rows and ranks with
    // bounds; a small one, or weights the bounds do not hold for (negative
    // ones), is summed from columns.
    if (rows || !bounds_.empty() || training_.hasColumns()) return Status();
    if (training_.size() < boundsFrom || !buildBounds()) training_.buildColumns();
    return Status();
}

bool KnnClassifier::buildBounds() {
    std::vector<double> roots(training_.size());
    for (size_t t = 0; t < roots.size(); ++t) roots[t] = std::sqrt(training_.squaredNorm(t));
    return bounds_.build(training_, roots);
}

void KnnClassifier::adoptTraining(const std::string& path, VectorSet&& vectors) {
    training_ = KnnTrainingSet();
    bounds_ = KnnCosineBounds();
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
    const Scorer scorer(training_, bounds_, similarity, k, categoryCount);
    ScratchPool pool;
    std::vector<int32_t> result;
    VectorFileReader::Batch block;
    for (;;) {
        const size_t count = reader.nextBatch(block, kStreamDocuments, kStreamBytes, threads);
        if (count == 0) break;
        const size_t before = result.size();
        result.resize(before + count);
        if (!classifyBlock(scorer, pool, block.docs.data(), count, result.data() + before, threads, sink, before,
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
    const Scorer scorer(training_, bounds_, similarity, k, categoryCount);
    ScratchPool pool;
    if (!classifyBlock(scorer, pool, docs.data(), docs.size(), result.data(), threads, sink, 0, docs.size()))
        return Status::failure("classification cancelled");
    return result;
}

}  // namespace kestrel
