#include "features/FeatureSelection.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>

#include "common/FileSystem.h"
#include "common/NumberFormat.h"

namespace kestrel {

namespace {
constexpr double kTiny = 1e-10;
bool tiny(double v) { return std::fabs(v) <= kTiny; }
}  // namespace

double inverseDocumentFrequency(uint32_t trainingDocCount, uint32_t docCount) {
    return std::log(static_cast<double>(trainingDocCount) / static_cast<double>(docCount));
}

double selectionScore(const TermEntry& entry, int mode, double n, const std::vector<double>& classDocs) {
    double score = 0.0;
    const double pt = static_cast<double>(entry.docCount) / n;
    const double pnt = 1.0 - pt;
    for (size_t i = 0; i < classDocs.size(); ++i) {
        const double pc = classDocs[i] / n;
        const double pnc = 1.0 - pc;
        const double ptc = (i < entry.classDocCount.size() ? static_cast<double>(entry.classDocCount[i]) : 0.0) / n;
        const double ptnc = pt - ptc;
        const double pntc = pc - ptc;
        const double pntnc = pnt - pntc;
        switch (mode) {
        case 0: {
            const double denominator = pnt * pt * pnc;
            if (!tiny(denominator)) {
                const double cross = ptc * pntnc - ptnc * pntc;
                score += n * cross * cross / denominator;
            }
            break;
        }
        case 1: {
            const double absent = pc * pnt;
            if (!tiny(absent) && !tiny(pntc)) score += pntc * std::log(pntc / absent);
            const double present = pt * pc;
            if (!tiny(present) && !tiny(ptc)) score += ptc * std::log(ptc / present);
            break;
        }
        case 2: {
            const double present = pt * pc;
            if (!tiny(present) && !tiny(ptc)) score += pc * std::log(ptc / present);
            break;
        }
        default: break;
        }
    }
    return score;
}

FeatureTable selectByStatistics(TermIndex& index, int mode, uint32_t trainingDocCount,
                                const CategoryTable& categories, uint32_t categoryCount, uint32_t dimension) {
    const double n = static_cast<double>(trainingDocCount);
    std::vector<double> classDocs(categoryCount, 0.0);
    for (uint32_t i = 0; i < categoryCount && i < categories.size(); ++i)
        classDocs[i] = static_cast<double>(categories[i].docCount);

    auto& entries = index.entries();
    for (auto& e : entries) e.score = selectionScore(e, mode, n, classDocs);
    // An undefined score (no training documents) ranks like the lowest one.
    // Equal scores keep the order of first appearance, whatever order an
    // earlier selection left the index in.
    auto key = [](double s) { return std::isnan(s) ? -HUGE_VAL : s; };
    std::stable_sort(entries.begin(), entries.end(), [&](const TermEntry& a, const TermEntry& b) {
        if (key(a.score) != key(b.score)) return key(a.score) > key(b.score);
        return a.firstSeen < b.firstSeen;
    });
    index.reindex();

    FeatureTable features;
    const uint32_t count = std::min<uint32_t>(dimension, static_cast<uint32_t>(entries.size()));
    for (uint32_t k = 0; k < count; ++k) {
        const double idf = inverseDocumentFrequency(trainingDocCount, entries[k].docCount);
        features[entries[k].term] = FeatureInfo{k, idf};
    }
    return features;
}

}  // namespace kestrel
