#pragma once
// Feature selection by chi-square, information gain or mutual information:
// score every candidate, rank them and keep the best.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"
#include "features/FeatureTable.h"
#include "features/TermIndex.h"

namespace kestrel {

// Score of one term for mode 0 (CHI), 1 (IG) or 2 (MI); N is the number of
// training documents and classDocs[i] the documents of category i.
double selectionScore(const TermEntry& entry, int mode, double n, const std::vector<double>& classDocs);

// Scores every entry, sorts the index by score (stable, highest first) and
// returns the first `dimension` entries as the feature table (ids in rank
// order).
FeatureTable selectByStatistics(TermIndex& index, int mode, uint32_t trainingDocCount,
                                const CategoryTable& categories, uint32_t categoryCount, uint32_t dimension);

// ln(N / df); 0 guards a zero count.
double inverseDocumentFrequency(uint32_t trainingDocCount, uint32_t docCount);

}  // namespace kestrel
