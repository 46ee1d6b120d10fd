#pragma once
// The measure KNN ranks neighbours by; the values are the codes params.dat
// stores.
#include <cstdint>

namespace kestrel {

enum class Similarity : uint32_t { Cosine = 0, Manhattan = 1, Euclidean = 2 };

}  // namespace kestrel
