// The fast evaluation of the reduction against the straightforward one on
// many random decision tables: same smallest difference, same qualities in
// every pass, same reduct in the same order.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "features/RoughSetDecisionTable.h"
#include "features/RoughSetEvaluation.h"

using namespace kestrel;

namespace {

uint32_t pick(std::mt19937& rng, uint32_t n) { return static_cast<uint32_t>(rng() % n); }

struct Shape {
    uint32_t docs, attributes, categories;
    double density;
    bool sortedCategories;  // as the corpus walk lists them
    int duplicates;         // copies of a document into another category
};

DecisionTable randomTable(std::mt19937& rng, const Shape& shape) {
    DecisionTable t;
    t.attributeCount = shape.attributes;
    t.categoryCount = shape.categories;
    t.objectCount = shape.docs;
    std::bernoulli_distribution has(shape.density);
    for (uint32_t x = 0; x < shape.docs; ++x) {
        RoughSetDocument d;
        d.category = shape.categories ? rng() % shape.categories : 0;
        // A per-document skew makes attribute counts differ between categories.
        for (uint32_t a = 0; a < shape.attributes; ++a)
            if (has(rng) || (a % (shape.categories + 1)) == d.category * (rng() % 2)) d.attributes.push_back(a);
        t.documents.push_back(std::move(d));
    }
    for (int i = 0; i < shape.duplicates && shape.docs > 1 && shape.categories > 1; ++i) {
        const uint32_t from = rng() % shape.docs, to = rng() % shape.docs;
        t.documents[to].attributes = t.documents[from].attributes;
    }
    if (shape.sortedCategories)
        std::stable_sort(t.documents.begin(), t.documents.end(),
                         [](const RoughSetDocument& a, const RoughSetDocument& b) { return a.category < b.category; });
    return t;
}

void expectSameOutcomes(const ReductionOutcome& direct, const std::vector<const ReductionOutcome*>& others,
                        const std::string& what) {
    for (const ReductionOutcome* fast : others) {
        ASSERT_EQ(fast->qualities, direct.qualities) << what;
        ASSERT_EQ(fast->reduct, direct.reduct) << what;
        ASSERT_EQ(fast->bestAfterPass, direct.bestAfterPass) << what;
        ASSERT_EQ(fast->remaining.size(), direct.remaining.size()) << what;
        for (size_t i = 0; i < direct.remaining.size(); ++i)
            ASSERT_EQ(fast->remaining[i].attribute, direct.remaining[i].attribute) << what;
    }
}

// Compares every fast evaluation that holds for the table with the direct
// one; returns whether the class evaluation was among them.
bool expectSameReduction(const DecisionTable& table, const std::string& what) {
    ReductionOutcome direct, fast1, fast2, class1, class2;
    auto reference = makeDirectEvaluator(table);
    EXPECT_TRUE(growReduct(table, *reference, nullptr, direct, true));
    auto single = makeIncrementalEvaluator(table, 1, nullptr);
    EXPECT_TRUE(growReduct(table, *single, nullptr, fast1, true));
    auto parallel = makeIncrementalEvaluator(table, 2, nullptr);
    EXPECT_TRUE(growReduct(table, *parallel, nullptr, fast2, true));
    std::vector<const ReductionOutcome*> fast{&fast1, &fast2};
    const bool byClasses = classEvaluationApplies(table);
    if (byClasses) {
        auto classes1 = makeClassEvaluator(table, 1, nullptr);
        EXPECT_TRUE(growReduct(table, *classes1, nullptr, class1, true));
        auto classes2 = makeClassEvaluator(table, 2, nullptr);
        EXPECT_TRUE(growReduct(table, *classes2, nullptr, class2, true));
        fast.push_back(&class1);
        fast.push_back(&class2);
    }
    expectSameOutcomes(direct, fast, what);
    // Every pass takes one candidate; the passes end at quality N or when the
    // candidates run out.
    EXPECT_EQ(direct.reduct.size() + direct.remaining.size(), table.candidates.size());
    if (!direct.remaining.empty()) {
        EXPECT_EQ(direct.bestAfterPass.back(), table.documents.size()) << what;
    }
    return byClasses;
}


}  // namespace

TEST(RoughSetEvaluation, IncrementalMatchesDirectOnRandomTables) {
    std::mt19937 rng(20240611);
    const double fixedThresholds[] = {0.0, 1.0 / 3.0, 0.5, 0.25, 2.0 / 3.0, 0.9, 1.0, 1e-9};
    int evaluated = 0, longReducts = 0, byClasses = 0;
    for (int round = 0; round < 600; ++round) {
        Shape shape{pick(rng, 26), 1 + pick(rng, 14), 1 + pick(rng, 4), 0.1 + 0.6 * pick(rng, 100) / 100.0,
                    pick(rng, 3) != 0, static_cast<int>(pick(rng, 3))};
        DecisionTable table = randomTable(rng, shape);
        buildCandidates(table);
        uint32_t fast1 = 0, fast2 = 0;
        ASSERT_TRUE(minimumDifference(table, 1, nullptr, fast1));
        ASSERT_TRUE(minimumDifference(table, 2, nullptr, fast2));
        const uint32_t direct = minimumDifferenceDirect(table);
        ASSERT_EQ(fast1, direct) << "round " << round;
        ASSERT_EQ(fast2, direct) << "round " << round;
        if (table.candidates.empty()) continue;
        // The computed threshold, or one that makes d / s hit it exactly, so
        // that the strict comparison is exercised at its edge.
        table.threshold = round % 2 ? discernibilityThreshold(direct, table.candidates.size())
                                    : fixedThresholds[(round / 2) % std::size(fixedThresholds)];
        if (expectSameReduction(table, "round " + std::to_string(round))) ++byClasses;
        ++evaluated;
        if (table.candidates.size() > 3) longReducts++;
    }
    EXPECT_GT(evaluated, 400);
    EXPECT_GT(longReducts, 100);
    EXPECT_GT(byClasses, 100);
}

TEST(RoughSetEvaluation, IncrementalMatchesDirectOnWiderTables) {
    // Enough attributes that the smallest difference uses dense bitsets, and
    // enough documents for several bitset words.
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        Shape shape{65 + pick(rng, 16), 64 + pick(rng, 30), 2 + pick(rng, 4), 0.05 + 0.1 * round, round % 2 == 0, round};
        DecisionTable table = randomTable(rng, shape);
        buildCandidates(table);
        uint32_t fast = 0;
        ASSERT_TRUE(minimumDifference(table, 2, nullptr, fast));
        ASSERT_EQ(fast, minimumDifferenceDirect(table));
        table.threshold = discernibilityThreshold(fast, table.candidates.size());
        expectSameReduction(table, "wide round " + std::to_string(round));
    }
}

TEST(RoughSetEvaluation, ManyCandidatesUseWideCounts) {
    // More candidates than 16-bit pair counts can hold.
    std::mt19937 rng(99);
    Shape shape{6, 110000, 2, 0.5, true, 0};
    DecisionTable table = randomTable(rng, shape);
    buildCandidates(table);
    ASSERT_GT(table.candidates.size(), 65535u);
    uint32_t fast = 0;
    ASSERT_TRUE(minimumDifference(table, 2, nullptr, fast));
    ASSERT_EQ(fast, minimumDifferenceDirect(table));
    table.threshold = 0.9;  // long reducts: pairs must differ on 90% of it
    ReductionOutcome direct, incremental;
    auto reference = makeDirectEvaluator(table);
    auto evaluator = makeIncrementalEvaluator(table, 2, nullptr);
    ASSERT_TRUE(growReduct(table, *reference, nullptr, direct));
    ASSERT_TRUE(growReduct(table, *evaluator, nullptr, incremental));
    EXPECT_EQ(incremental.reduct, direct.reduct);
    EXPECT_EQ(incremental.bestAfterPass, direct.bestAfterPass);
}

TEST(RoughSetEvaluation, SpreadFilterCountsAndOrder) {
    // The small example: S = [[2, 1, 0], [0, 1, 2]].
    DecisionTable t;
    t.attributeCount = 3;
    t.categoryCount = 2;
    t.documents = {{0, {0, 1}}, {0, {0}}, {1, {2}}, {1, {1, 2}}};
    buildCandidates(t);
    EXPECT_EQ(t.categoryDocCount, (std::vector<uint32_t>{2, 2}));
    EXPECT_EQ(t.spread, (std::vector<double>{1.0, 0.0, 1.0}));
    EXPECT_EQ(t.dominant, (std::vector<uint32_t>{0, 0, 1}));  // tie on t1: smaller id
    ASSERT_EQ(t.candidates.size(), 2u);
    EXPECT_EQ(t.candidates[0].attribute, 0u);
    EXPECT_EQ(t.candidates[1].attribute, 2u);
    EXPECT_EQ(t.dropped, (std::vector<uint32_t>{1}));
    EXPECT_EQ(t.documents[0].attributes, (std::vector<uint32_t>{0}));
    EXPECT_EQ(t.documents[3].attributes, (std::vector<uint32_t>{2}));
    uint32_t smallest = 0;
    ASSERT_TRUE(minimumDifference(t, 0, nullptr, smallest));
    EXPECT_EQ(smallest, 2u);
    t.threshold = discernibilityThreshold(smallest, t.candidates.size());
    EXPECT_DOUBLE_EQ(t.threshold, 0.9);
    ReductionOutcome out;
    auto evaluator = makeIncrementalEvaluator(t, 0, nullptr);
    ASSERT_TRUE(growReduct(t, *evaluator, nullptr, out, true));
    EXPECT_EQ(out.reduct, (std::vector<uint32_t>{0}));
    EXPECT_EQ(out.qualities, (std::vector<std::vector<uint32_t>>{{4, 4}}));
}

TEST(RoughSetEvaluation, ClassesMatchDirectOnTitleLikeTables) {
    // Many short documents, several of them one word away from a document of
    // another category: the smallest difference is 1, the reduct long, and
    // classes split over many passes.
    std::mt19937 rng(31);
    for (int round = 0; round < 4; ++round) {
        Shape shape{120 + pick(rng, 60), 40 + pick(rng, 20), 3 + pick(rng, 3), 0.05, true, 0};
        DecisionTable table = randomTable(rng, shape);
        for (int i = 0; i < 30; ++i) {  // near copies across categories
            const uint32_t from = pick(rng, shape.docs), to = pick(rng, shape.docs);
            auto& attributes = table.documents[to].attributes;
            attributes = table.documents[from].attributes;
            const uint32_t extra = pick(rng, shape.attributes);
            if (!std::binary_search(attributes.begin(), attributes.end(), extra))
                attributes.insert(std::upper_bound(attributes.begin(), attributes.end(), extra), extra);
        }
        buildCandidates(table);
        uint32_t smallest = 0;
        ASSERT_TRUE(minimumDifference(table, 2, nullptr, smallest));
        table.threshold = discernibilityThreshold(smallest, table.candidates.size());
        ASSERT_LE(smallest, 1u);
        EXPECT_TRUE(expectSameReduction(table, "title round " + std::to_string(round)));
    }
}

TEST(RoughSetEvaluation, ChoosesAnEvaluationThatFits) {
    DecisionTable t;
    t.attributeCount = 3;
    t.categoryCount = 2;
    t.documents = {{0, {0, 1}}, {0, {0}}, {1, {2}}, {1, {1, 2}}};
    buildCandidates(t);
    t.threshold = discernibilityThreshold(1, t.candidates.size());
    EXPECT_TRUE(classEvaluationApplies(t));
    // Two differing attributes needed: pairs must be counted.
    t.threshold = discernibilityThreshold(2, t.candidates.size());
    EXPECT_FALSE(classEvaluationApplies(t));
    auto evaluator = makeReductEvaluator(t, 1, nullptr);
    ASSERT_TRUE(evaluator.ok());
    // Documents out of category order: "later" matters.
    t.threshold = 0.0;
    std::swap(t.documents[0], t.documents[3]);
    EXPECT_FALSE(classEvaluationApplies(t));

    // 50,000 x 50,000 pairs to count: refused before anything is allocated.
    DecisionTable big;
    big.attributeCount = 1;
    big.categoryCount = 2;
    big.documents.resize(100000);
    for (size_t x = 50000; x < big.documents.size(); ++x) big.documents[x].category = 1;
    big.candidates = {{0, 0, 1.0}};
    big.threshold = 1.5;
    ASSERT_FALSE(classEvaluationApplies(big));
    auto refused = makeReductEvaluator(big, 1, nullptr);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.message().find("100000 training documents"), std::string::npos) << refused.message();
}
