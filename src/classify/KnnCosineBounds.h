#pragma once
// Upper bounds on the cosine similarity of a document and each training
// document, cheap enough to rule most training documents out of the k
// nearest before their dot product is summed.
//
// With every weight >= 0, the cosine is the sum over shared features of
// (a / |A|)(b / |B|). The features are split in two:
// - rare features (held by fewer than a tenth of the training documents)
//   keep a column of normalised weights, rounded up; summing the
//   document's rare columns gives each training document a close upper
//   bound on the share of its rare features, at a fraction of the cost of
//   every column;
// - frequent features, which carry most of the work of a full sum, are
//   split into a few groups by document frequency; each training document
//   keeps the norm of its normalised weights in every group, and by the
//   Cauchy-Schwarz inequality the share of a group is at most the product
//   of the two norms.
// The bound is the rare share plus the sum of the group products, enlarged
// by a margin that covers every rounding of the bound and of the similarity
// itself, so a training document whose bound is below the k-th similarity
// found so far cannot be among the k nearest.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "classify/KnnTrainingSet.h"

namespace kestrel {

// The rare features' columns: training document positions (increasing)
// and normalised weights rounded up, kept as the upper half of a float
// (8 bits of precision are plenty for a bound, and the columns take 6 bytes
// an entry instead of 8).
struct BoundColumn {
    const uint32_t* documents = nullptr;
    const uint16_t* weights = nullptr;
    size_t size = 0;
    float weight(size_t p) const { return std::bit_cast<float>(static_cast<uint32_t>(weights[p]) << 16); }
};

class KnnCosineBounds {
public:
    // Builds the bounds from the rows of `training`, whose norms' square
    // roots are `roots`. Returns false, and stays empty, when a weight is
    // negative or too large for the bounds to hold (the system's weights
    // never are): the caller then sums every pair.
    bool build(const KnnTrainingSet& training, const std::vector<double>& roots);
    bool empty() const { return !built_; }

    // The role of a feature number: a rare column (>= 0), a frequent group
    // (-1 - group), or kAbsent when no training document has it.
    static constexpr int32_t kAbsent = INT32_MIN;
    int32_t place(int32_t feature) const;
    size_t groupCount() const { return groupCount_; }
    // Group norms a document keeps: groupCount() padded with zeros to a
    // multiple of 16.
    size_t groupStride() const { return groupStride_; }
    BoundColumn column(size_t c) const;
    // Norms of training document t's normalised weights, rounded up: over
    // all its frequent features (one product bounds their share, cheaply),
    // and per group (groupCount() of them, a tighter bound). A training
    // document whose norm the bounds cannot use has infinite norms, so it
    // is always summed.
    float frequentNorm(size_t t) const { return frequentNorms_[t]; }
    // The group bound: the sum over groups of training document t's norms
    // times a document's (query: groupStride() norms rounded up, zeros past
    // groupCount()).
    float groupShare(size_t t, const float* query) const;

    // Whether a weight or a norm lies where the bounds hold: weights in
    // [0, 1e100], norms' roots in [1e-100, 1e100], so that no product
    // overflows and underflow stays far below the margin.
    static bool usableWeight(double w) { return w >= 0.0 && w <= 1e100; }
    static bool usableRoot(double r) { return r >= 1e-100 && r <= 1e100; }
    // A bound made safe: the rare share and the frequent (float) share
    // enlarged for their roundings and the similarity's own.
    static double upper(double rare, float frequent) {
        return rare * (1.0 + 0x1p-28) + static_cast<double>(frequent) * (1.0 + 0x1p-14) + 1e-30;
    }
    // The float at or above x.
    static float roundedUp(double x);
    // Bounds kept as floats: a normalised weight, and the norm of a sum of
    // squares, each made a relative 2^-30 larger (covering the roundings
    // of the division, the squares, their sum and the root) and rounded up.
    static float weightUp(double a) { return roundedUp(a * (1.0 + 0x1p-30)); }
    // The upper half of a float >= 0, rounded up.
    static uint16_t upperHalfUp(float f);
    static float normUp(double squares);

private:
    // Ranks the features and gives each its place; returns the number of
    // rare columns.
    size_t assignPlaces(const KnnTrainingSet& training);

    bool built_ = false;
    size_t groupCount_ = 0;
    size_t groupStride_ = 0;
    std::vector<int32_t> features_;  // every training feature, increasing
    std::vector<int32_t> places_;    // per feature, as place()
    std::vector<size_t> columnStarts_;
    std::unique_ptr<uint32_t[]> columnDocuments_;
    std::unique_ptr<uint16_t[]> columnWeights_;
    std::unique_ptr<float[]> groupNorms_;     // per training document, groupStride_ each
    std::unique_ptr<float[]> frequentNorms_;  // per training document
};

}  // namespace kestrel
