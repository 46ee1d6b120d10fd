#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "experiment/FoldAssignment.h"

namespace kestrel {
namespace {

// Categories of 23, 7, 3 and 1 documents, interleaved the way a listing by
// category would not be, so the assignment cannot lean on document order.
std::vector<uint32_t> mixedCategories() {
    std::vector<uint32_t> categories;
    const uint32_t sizes[] = {23, 7, 3, 1};
    for (uint32_t round = 0; round < 23; ++round)
        for (uint32_t c = 0; c < 4; ++c)
            if (round < sizes[c]) categories.push_back(c);
    return categories;
}

TEST(FoldAssignment, StratifiedDisjointAndCovering) {
    const auto categories = mixedCategories();
    const uint32_t folds = 5;
    const auto fold = assignFolds(categories, folds, 7);
    ASSERT_EQ(fold.size(), categories.size());

    std::map<uint32_t, std::vector<uint32_t>> perCategory;  // category -> documents per fold
    std::vector<uint32_t> perFold(folds, 0);
    for (size_t n = 0; n < fold.size(); ++n) {
        ASSERT_LT(fold[n], folds);  // every document in exactly one valid fold
        auto& counts = perCategory[categories[n]];
        counts.resize(folds, 0);
        ++counts[fold[n]];
        ++perFold[fold[n]];
    }
    for (const auto& [category, counts] : perCategory) {
        const auto [low, high] = std::minmax_element(counts.begin(), counts.end());
        EXPECT_LE(*high - *low, 1u) << "category " << category;
    }
    const auto [low, high] = std::minmax_element(perFold.begin(), perFold.end());
    EXPECT_LE(*high - *low, 1u);
    EXPECT_GT(*low, 0u);
}

TEST(FoldAssignment, FixedBySeed) {
    const auto categories = mixedCategories();
    EXPECT_EQ(assignFolds(categories, 5, 7), assignFolds(categories, 5, 7));
    EXPECT_NE(assignFolds(categories, 5, 7), assignFolds(categories, 5, 8));
    // The same folds on every platform and standard library.
    EXPECT_EQ(assignFolds({0, 0, 0, 0, 1, 1, 1, 1, 2, 2}, 3, 1),
              (std::vector<uint32_t>{1, 0, 0, 2, 0, 1, 2, 1, 2, 0}));
}

TEST(FoldAssignment, CategoriesSmallerThanTheFoldCount) {
    // One document per category: the deal goes on across categories, so the
    // folds still hold one document each.
    const auto fold = assignFolds({0, 1, 2, 3}, 4, 3);
    EXPECT_EQ(std::set<uint32_t>(fold.begin(), fold.end()).size(), 4u);
}

}  // namespace
}  // namespace kestrel
