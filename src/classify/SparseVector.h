#pragma once
// A document vector as the classifiers read it from a vector file.
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

// (feature id, weight) in increasing id order; ids are 0-based (the file's
// feature number minus 1). Each id appears once.
using SparseVector = std::vector<std::pair<uint32_t, double>>;

// Parses the items of a vector line after its label: tokens separated by
// blanks, "number:weight" each; an id already present keeps its first weight.
// Malformed numbers read as their leading digits (0 without any).
SparseVector parseSparseVector(std::string_view items);

// Splits a vector line into its label (the leading integer of the text
// before the first blank) and the rest after that blank.
int64_t splitVectorLine(std::string_view line, std::string_view& items);

}  // namespace kestrel
