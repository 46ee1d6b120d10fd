#include "features/DocumentVectors.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "common/FileSystem.h"
#include "common/NumberFormat.h"

namespace kestrel {

std::string vectorItems(const std::vector<SegLine>& lines, const FeatureTable& features) {
    std::map<uint32_t, double> weights;
    for (const auto& line : lines) {
        const auto it = features.find(line.term);
        if (it == features.end()) continue;
        // A negative count is malformed; it weighs like an absent term.
        const double tf = line.count > 0 ? static_cast<double>(line.count) : 0.0;
        weights.emplace(it->second.id, std::log(tf + 1.0) * it->second.idf);
    }
    double norm = 0.0;
    for (const auto& [id, w] : weights) norm += w * w;
    norm = std::sqrt(norm);
    std::string out;
    for (const auto& [id, w] : weights) {
        // A document whose selected features all weigh 0 keeps its items
        // with weight 0 instead of 0/0.
        const double value = norm > 0.0 ? w / norm : 0.0;
        out += ' ';
        appendLong(out, static_cast<long>(id) + 1);
        out += ':';
        appendFixed(out, value, 6);
    }
    out += '\n';
    return out;
}

}  // namespace kestrel
