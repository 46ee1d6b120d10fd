#pragma once
// k-nearest-neighbour classification of document vectors against the
// training vectors of train.dat, with cosine similarity or Manhattan/Euclidean
// distance and an unweighted vote of the k closest training documents.
#include <cstdint>
#include <string>
#include <vector>

#include "common/FileIdentity.h"
#include "classify/KnnCosineBounds.h"
#include "classify/KnnTrainingSet.h"
#include "classify/Similarity.h"
#include "common/Status.h"
#include "features/DocumentVector.h"
#include "features/VectorFile.h"

namespace kestrel {

class ProgressSink;

class KnnClassifier {
public:
    struct Neighbour {
        int32_t category = 0;
        double similarity = 0.0;
    };

    uint32_t k = 20;
    Similarity similarity = Similarity::Cosine;
    std::string workspacePath;  // directory of train.dat, with trailing '/'
    uint32_t categoryCount = 0;
    unsigned threads = 0;  // 0: every core
    // Training sets of at least this many documents rank the cosine with
    // bounds (rows kept, most pairs never summed); smaller ones sum every
    // pair from columns, which is faster while the k-th similarity is low.
    size_t boundsFrom = 16384;

    // Classifies the documents against the training vectors of
    // workspacePath + "train.dat": one category id per document, in order.
    // The training vectors are read once and kept for as long as train.dat
    // stays the same file with the same content. Fails (naming the file)
    // when train.dat cannot be read or the run is cancelled.
    Result<std::vector<int32_t>> classify(const std::vector<DocumentVector>& docs, ProgressSink* sink = nullptr);
    // The same for every document line of a vector file, read a block of
    // documents at a time so that memory does not grow with the file; a
    // line that breaks the vector syntax keeps its place and is classified
    // as an empty vector. `expected` (0: unknown) is the number of documents
    // progress counts towards.
    Result<std::vector<int32_t>> classifyFile(const std::string& path, ProgressSink* sink = nullptr,
                                              uint64_t expected = 0);

    // Takes the vectors just written to the training file at `path` as its
    // training documents, so that they are not read back; they serve for as
    // long as that file stays as it is now.
    void adoptTraining(const std::string& path, VectorSet&& vectors);

    // Similarity of a training vector `a` and a document vector `b` (with
    // their squared norms in twoNorm); larger means more alike. Undefined
    // cosine similarities (a zero vector) are NaN.
    static double similarityOf(const DocumentVector& a, const DocumentVector& b, Similarity code);

    // The winning category of a neighbour list: the k most similar (stable:
    // equal similarities keep training order; undefined ones rank last) vote
    // one each; the lowest id wins a tie; category 0 without votes.
    static int32_t vote(const std::vector<Neighbour>& neighbours, uint32_t k, uint32_t categoryCount);

    // The training documents of the last classification (categories are the
    // file's labels minus 1).
    const KnnTrainingSet& training() const { return training_; }
    // Lines of train.dat or the classified file that break the vector line
    // syntax, as the SVM reports them: training lines are skipped, a
    // classified line keeps its place and is classified as an empty vector.
    const std::string& warning() const { return warning_; }
    // The parts of warning(): the note on train.dat, and the one on the file
    // of the last classifyFile.
    const std::string& trainingWarning() const { return trainingWarning_; }
    const std::string& fileWarning() const { return fileWarning_; }

private:
    Status loadTraining();
    bool buildBounds();
    KnnTrainingSet training_;
    KnnCosineBounds bounds_;  // built for the cosine when the weights allow
    FileIdentity trainingIdentity_;  // the file training_ was read from, in its state then
    std::string warning_;
    std::string trainingWarning_;
    std::string fileWarning_;
};

}  // namespace kestrel
