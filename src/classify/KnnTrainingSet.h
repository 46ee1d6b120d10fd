#pragma once
// The training documents of KNN in compact form: their categories and squared
// norms, and their entries either as rows (each document's features and
// weights, stored in large blocks without a heap allocation per document)
// or as columns (for each feature, the documents that have it with their
// weights, in training order). Rows serve the distances, which walk whole
// documents; columns serve the cosine similarity, which only needs the
// products over shared features. Turning rows into columns releases the
// rows block by block, so the set never needs room for both forms at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "features/DocumentVector.h"
#include "features/VectorFile.h"

namespace kestrel {

// A sparse vector as parallel arrays of feature numbers (increasing) and
// weights.
struct SparseRow {
    const int32_t* features = nullptr;
    const double* weights = nullptr;
    size_t size = 0;
};

// The training documents that have one feature: document positions
// (increasing) and their weights.
struct FeatureColumn {
    const uint32_t* documents = nullptr;
    const double* weights = nullptr;
    size_t size = 0;
};

class KnnTrainingSet {
public:
    // Appends a document (its entries up to the 0 terminator; its squared
    // norm is taken from twoNorm). Only while the set holds rows.
    void add(int32_t category, const DocumentVector& doc);
    // Appends every document of a vector set (category: label minus 1),
    // releasing each once it is copied, so that the set's memory and the
    // rows' are not both held in full.
    void addAll(VectorSet&& vectors);

    size_t size() const { return categories_.size(); }
    bool empty() const { return categories_.empty(); }
    const std::vector<int32_t>& categories() const { return categories_; }
    double squaredNorm(size_t t) const { return squaredNorms_[t]; }
    size_t entryCount() const { return entryCount_; }
    int32_t highestFeature() const { return highestFeature_; }
    // Whether the feature numbers are few enough for tables indexed by
    // them (the usual case: the selected features, numbered from 1).
    bool denseFeatures() const;

    bool hasRows() const { return !columnsBuilt_; }
    // Document t; only while the set holds rows.
    SparseRow row(size_t t) const;
    // The features of the rows, in increasing order, with the number of
    // documents that have each; only while the set holds rows.
    void countFeatures(std::vector<int32_t>& features, std::vector<size_t>& counts) const;

    // Turns the rows into columns, releasing the rows as it goes.
    void buildColumns();
    bool hasColumns() const { return columnsBuilt_; }
    // The features that have a column, in increasing order.
    const std::vector<int32_t>& columnFeatures() const { return columnFeatures_; }
    FeatureColumn column(size_t c) const;

private:
    struct Block {
        std::vector<int32_t> features;
        std::vector<double> weights;
    };
    struct RowPlace {
        uint32_t block = 0;
        uint32_t offset = 0;
        uint32_t size = 0;
    };
    std::vector<uint32_t> columnOfEachFeature() const;

    std::vector<int32_t> categories_;
    std::vector<double> squaredNorms_;
    size_t entryCount_ = 0;
    int32_t highestFeature_ = 0;

    std::vector<Block> blocks_;
    std::vector<RowPlace> rows_;

    bool columnsBuilt_ = false;
    std::vector<int32_t> columnFeatures_;
    std::vector<size_t> columnStarts_;  // one more than columns
    // Not value-initialised: pages are only taken as the columns fill.
    std::unique_ptr<uint32_t[]> postingDocuments_;
    std::unique_ptr<double[]> postingWeights_;
};

}  // namespace kestrel
