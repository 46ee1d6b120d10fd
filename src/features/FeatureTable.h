#pragma once
// The selected features: term -> (feature id, idf), ordered by term bytes.
#include <cstdint>
#include <map>
#include <string>

namespace kestrel {

struct FeatureInfo {
    uint32_t id = 0;   // 0-based, dense, in selection order
    double idf = 0.0;  // ln(N / docCount)
};

// std::less<> keeps std::string's byte order and allows lookups by string_view.
using FeatureTable = std::map<std::string, FeatureInfo, std::less<>>;

}  // namespace kestrel
