#pragma once
// k-nearest-neighbour classification of vector files against the training
// vectors of train.dat, with cosine similarity or Manhattan/Euclidean
// distance and an unweighted vote of the k closest training documents.
#include <cstdint>
#include <string>
#include <vector>

#include "classify/SparseVector.h"

namespace kestrel {

class ProgressSink;

class KnnClassifier {
public:
    enum Similarity : uint32_t { kCosine = 0, kManhattan = 1, kEuclidean = 2 };

    struct TrainingDocument {
        int32_t category = 0;  // the file's label minus 1
        SparseVector vector;
        double squaredNorm = 0.0;  // sum of a^2 in id order
    };

    struct Neighbour {
        int32_t category = 0;
        double similarity = 0.0;
    };

    uint32_t k = 20;
    uint32_t similarity = kCosine;
    std::string workspacePath;  // directory of train.dat, with trailing '/'
    uint32_t categoryCount = 0;
    bool trainingLoaded = false;
    unsigned threads = 0;  // 0: every core

    // Classifies every non-empty line of a vector file; one category id per
    // line in file order. Empty when train.dat or the file cannot be read
    // (error() then says which).
    std::vector<int32_t> classifyFile(const std::string& path, ProgressSink* sink = nullptr);

    // Similarity of a training vector `a` (with its squared norm) and a
    // document vector `b`; larger means more alike. Undefined cosine
    // similarities (a zero vector) are NaN.
    static double similarityOf(const SparseVector& a, double aSquaredNorm, const SparseVector& b,
                               double bSquaredNorm, uint32_t code);

    // The winning category of a neighbour list: the k most similar (stable:
    // equal similarities keep training order; undefined ones rank last) vote
    // one each; the lowest id wins a tie; category 0 without votes.
    static int32_t vote(const std::vector<Neighbour>& neighbours, uint32_t k, uint32_t categoryCount);

    const std::vector<TrainingDocument>& trainingDocuments() const { return training_; }
    const std::string& error() const { return error_; }
    // Lines of train.dat or the classified file that break the vector line
    // syntax, as the SVM reports them: training lines are skipped, a
    // classified line keeps its place and is classified as an empty vector.
    const std::string& warning() const { return warning_; }

private:
    bool loadTraining();
    std::vector<TrainingDocument> training_;
    std::string error_;
    std::string warning_;
    std::string trainingWarning_;
};

double squaredNorm(const SparseVector& v);

}  // namespace kestrel
