#include "app/ClassifierChoice.h"

namespace kestrel {

namespace {

constexpr const char* kClassifierNames[] = {"knn", "svm"};
constexpr const char* kSimilarityNames[] = {"cosine", "manhattan", "euclidean"};

// The position of `name` in `names`; none when it is not there.
template <size_t N>
std::optional<size_t> indexOf(const char* const (&names)[N], std::string_view name) {
    for (size_t i = 0; i < N; ++i)
        if (name == names[i]) return i;
    return std::nullopt;
}

}  // namespace

const char* classifierName(ClassifierKind kind) {
    return kClassifierNames[kind == ClassifierKind::Svm ? 1 : 0];
}

std::optional<ClassifierKind> parseClassifier(std::string_view name) {
    const auto index = indexOf(kClassifierNames, name);
    if (!index) return std::nullopt;
    return static_cast<ClassifierKind>(*index);
}

const char* similarityName(Similarity similarity) {
    const auto code = static_cast<uint32_t>(similarity);
    return code < 3 ? kSimilarityNames[code] : kSimilarityNames[0];
}

std::optional<Similarity> parseSimilarity(std::string_view name) {
    const auto index = indexOf(kSimilarityNames, name);
    if (!index) return std::nullopt;
    return static_cast<Similarity>(*index);
}

}  // namespace kestrel
