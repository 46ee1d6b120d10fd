#include "experiment/FoldAssignment.h"

#include <algorithm>
#include <utility>

namespace kestrel {

namespace {

// SplitMix64: a small generator whose sequence is the same on every
// platform and standard library (std::shuffle's is not).
class SeededSequence {
public:
    explicit SeededSequence(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound), bound > 0, without modulo bias.
    uint64_t below(uint64_t bound) {
        const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
        uint64_t v;
        do v = next();
        while (v >= limit);
        return v % bound;
    }

private:
    uint64_t state_;
};

}  // namespace

std::vector<uint32_t> assignFolds(const std::vector<uint32_t>& categoryOfDocument, uint32_t folds, uint64_t seed) {
    std::vector<uint32_t> fold(categoryOfDocument.size(), 0);
    if (folds == 0) return fold;
    uint32_t categories = 0;
    for (const uint32_t c : categoryOfDocument) categories = std::max(categories, c + 1);
    std::vector<std::vector<size_t>> members(categories);
    for (size_t n = 0; n < categoryOfDocument.size(); ++n) members[categoryOfDocument[n]].push_back(n);

    SeededSequence random(seed);
    uint64_t dealt = 0;
    for (auto& docs : members) {
        for (size_t i = docs.size(); i > 1; --i) std::swap(docs[i - 1], docs[random.below(i)]);
        for (const size_t n : docs) fold[n] = static_cast<uint32_t>(dealt++ % folds);
    }
    return fold;
}

}  // namespace kestrel
