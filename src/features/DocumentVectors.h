#pragma once
// Weighted sparse vectors of segmented documents over the selected features:
// w = ln(tf + 1) * idf, normalised to unit Euclidean length.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "features/DocumentVector.h"
#include "features/FeatureTable.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

// Feature id and ln(tf + 1) * idf of one term of a document, in the order of
// the document's lines.
using TermWeights = std::vector<std::pair<uint32_t, double>>;

// The weight of a term occurring `count` times. A negative count is
// malformed; it weighs like an absent term.
double termWeight(int64_t count, double idf);

// The document vector of a document's term weights: entries in increasing
// feature number (feature id + 1), each id once with the first weight it
// was given, divided by the Euclidean norm. A document whose features all
// weigh 0 keeps them with weight 0 instead of 0/0. `weights` is reordered.
DocumentVector normalisedVector(TermWeights& weights);

// Looks terms up in the feature table by hash instead of by the table's
// byte order.
class FeatureLookup {
public:
    explicit FeatureLookup(const FeatureTable& features);
    const FeatureInfo* find(std::string_view term) const;
    // The term weights of a document's .seg lines (terms that are no
    // feature are left out).
    void weigh(const std::vector<SegLine>& lines, TermWeights& out) const;

private:
    std::unordered_map<std::string_view, const FeatureInfo*> lookup_;
};

// The items of one document's vector line (" %u:%.6f" per selected feature
// in increasing id, then "\n"), without the label.
std::string vectorItems(const std::vector<SegLine>& lines, const FeatureTable& features);

}  // namespace kestrel
