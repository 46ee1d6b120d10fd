#include "classify/SparseVector.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/NumberFormat.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

namespace {

}  // namespace

SparseVector parseSparseVector(std::string_view items) {
    SparseVector v;
    size_t pos = 0;
    bool sorted = true;
    while (pos < items.size()) {
        size_t end = items.find(' ', pos);
        if (end == std::string_view::npos) end = items.size();
        const std::string_view token = items.substr(pos, end - pos);
        pos = end + 1;
        if (token.empty()) continue;
        const size_t colon = token.find(':');
        const int64_t number = leadingInteger(token.substr(0, colon));
        const double weight = colon == std::string_view::npos ? 0.0 : leadingReal(token.substr(colon + 1));
        const auto id = static_cast<uint32_t>(number - 1);
        if (!v.empty() && id <= v.back().first) sorted = false;
        v.emplace_back(id, weight);
    }
    if (!sorted) {
        // Keep the first weight of a repeated id: a stable sort leaves the
        // first occurrence in front, unique keeps it.
        std::stable_sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        v.erase(std::unique(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                v.end());
    }
    return v;
}

int64_t splitVectorLine(std::string_view line, std::string_view& items) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) {
        items = {};
        return leadingInteger(line);
    }
    items = line.substr(space + 1);
    return leadingInteger(line.substr(0, space));
}

}  // namespace kestrel
