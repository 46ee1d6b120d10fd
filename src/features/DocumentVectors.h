#pragma once
// Weighted sparse vectors of segmented documents over the selected features:
// w = ln(tf + 1) * idf, normalised to unit Euclidean length.
#include <string>
#include <vector>

#include "features/FeatureTable.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

// The items of one document's vector line (" %u:%.6f" per selected feature
// in increasing id, then "\n"), without the label.
std::string vectorItems(const std::vector<SegLine>& lines, const FeatureTable& features);

}  // namespace kestrel
