#pragma once
// The classifier a workspace trains and the measure KNN ranks neighbours by,
// with the names the command line and the experiment grid give them. The
// numeric values are the codes params.dat stores.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

enum class ClassifierKind { Knn = 0, Svm = 1 };

enum class Similarity : uint32_t { Cosine = 0, Manhattan = 1, Euclidean = 2 };

// "knn" or "svm".
const char* classifierName(ClassifierKind kind);
std::optional<ClassifierKind> parseClassifier(std::string_view name);

// "cosine", "manhattan" or "euclidean".
const char* similarityName(Similarity similarity);
std::optional<Similarity> parseSimilarity(std::string_view name);

}  // namespace kestrel
