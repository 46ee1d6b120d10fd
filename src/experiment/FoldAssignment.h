#pragma once
// Stratified K-fold assignment for cross-validation: every category's
// documents are spread evenly over the folds, in an order fixed by a seed.
#include <cstdint>
#include <vector>

namespace kestrel {

// Fold (0 .. folds-1) of each document, given each document's category.
// Each category's documents are shuffled by the seed and dealt round-robin,
// the deal continuing where the previous category stopped, so every fold
// holds within one document of its share of each category and of the whole
// corpus. The same categories, folds and seed always give the same folds.
std::vector<uint32_t> assignFolds(const std::vector<uint32_t>& categoryOfDocument, uint32_t folds, uint64_t seed);

}  // namespace kestrel
