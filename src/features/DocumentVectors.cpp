#include "features/DocumentVectors.h"

#include <algorithm>
#include <cmath>

#include "features/VectorFile.h"

namespace kestrel {

double termWeight(int64_t count, double idf) {
    const double tf = count > 0 ? static_cast<double>(count) : 0.0;
    return std::log(tf + 1.0) * idf;
}

DocumentVector normalisedVector(TermWeights& weights) {
    // Stable, so that the first weight of a repeated id comes first and is
    // the one kept.
    std::stable_sort(weights.begin(), weights.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    weights.erase(std::unique(weights.begin(), weights.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                  weights.end());
    double norm = 0.0;
    for (const auto& [id, w] : weights) norm += w * w;
    norm = std::sqrt(norm);
    DocumentVector doc;
    doc.words.reserve(weights.size() + 1);
    for (const auto& [id, w] : weights)
        doc.words.push_back({static_cast<int32_t>(id + 1), norm > 0.0 ? w / norm : 0.0});
    doc.words.push_back({0, 0.0});
    return doc;
}

FeatureLookup::FeatureLookup(const FeatureTable& features) {
    lookup_.reserve(features.size());
    for (const auto& [term, info] : features) lookup_.emplace(term, &info);
}

const FeatureInfo* FeatureLookup::find(std::string_view term) const {
    const auto it = lookup_.find(term);
    return it == lookup_.end() ? nullptr : it->second;
}

void FeatureLookup::weigh(const std::vector<SegLine>& lines, TermWeights& out) const {
    out.clear();
    for (const auto& line : lines)
        if (const FeatureInfo* info = find(line.term)) out.emplace_back(info->id, termWeight(line.count, info->idf));
}

std::string vectorItems(const std::vector<SegLine>& lines, const FeatureTable& features) {
    TermWeights weights;
    FeatureLookup(features).weigh(lines, weights);
    DocumentVector doc = normalisedVector(weights);
    std::string out;
    appendVectorLine(out, "", doc);
    return out;
}

}  // namespace kestrel
