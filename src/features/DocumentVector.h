#pragma once
// A document as a sparse vector of feature weights: the one in-memory form
// of the vectors that preprocessing writes (train.dat, test.dat) and that
// both classifiers read, train on and score.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrel {

// One entry of a sparse vector. A list of entries is held in one array in
// strictly increasing feature number and ends with an entry whose feature
// number is 0 (its weight is not read), so a dot product is a plain merge.
struct VectorEntry {
    int32_t wnum = 0;     // feature number as written in vector files, >= 1 for a real entry
    double weight = 0.0;
};

// One document (a training example, a support vector or a document being
// classified).
struct DocumentVector {
    int32_t docnum = -1;              // position in the training arrays, -1 otherwise
    double twoNorm = 0.0;             // sparse dot product of the document with itself
    std::vector<VectorEntry> words;   // entries plus the 0 terminator

    const VectorEntry* list() const { return words.data(); }
    // Number of real entries (without the terminator).
    size_t size() const { return words.empty() ? 0 : words.size() - 1; }
};

}  // namespace kestrel
