#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "common/FileSystem.h"

#include "TestSupport.h"
#include "classify/KnnClassifier.h"

using namespace kestrel;
using kestrel::testing::TempDir;

namespace {

using N = KnnClassifier::Neighbour;

double sim(const SparseVector& a, const SparseVector& b, uint32_t code) {
    return KnnClassifier::similarityOf(a, squaredNorm(a), b, squaredNorm(b), code);
}

}  // namespace

TEST(KnnClassifier, SimilarityValues) {
    const SparseVector a{{0, 0.6}, {1, 0.8}};
    const SparseVector b{{1, 0.6}, {2, 0.8}};
    EXPECT_NEAR(sim(a, b, KnnClassifier::kManhattan), -1.6, 1e-12);
    EXPECT_NEAR(sim(a, b, KnnClassifier::kEuclidean), -std::sqrt(0.36 + 0.04 + 0.64), 1e-12);
    EXPECT_NEAR(sim(a, b, KnnClassifier::kCosine), 0.48, 1e-12);
    EXPECT_EQ(sim(a, a, KnnClassifier::kEuclidean), 0.0);
    const SparseVector c{{5, 1.0}};
    EXPECT_NEAR(sim(a, c, KnnClassifier::kEuclidean), -std::sqrt(2.0), 1e-12);
    EXPECT_TRUE(std::isnan(sim(a, {}, KnnClassifier::kCosine)));
    // Any code other than 0 and 2 measures the Manhattan distance.
    EXPECT_EQ(sim(a, b, 7), sim(a, b, KnnClassifier::kManhattan));
}

TEST(KnnClassifier, VoteTieBreaks) {
    // k = 3 over categories 2, 1, 1, 0 by decreasing similarity.
    EXPECT_EQ(KnnClassifier::vote({{2, .9}, {1, .8}, {1, .7}, {0, .6}}, 3, 3), 1);
    // One vote each: the lowest id wins.
    EXPECT_EQ(KnnClassifier::vote({{2, .9}, {1, .8}, {0, .7}}, 3, 3), 0);
    // Equal similarities keep training order, so the first two vote.
    EXPECT_EQ(KnnClassifier::vote({{2, .5}, {2, .5}, {1, .5}, {1, .9}}, 3, 3), 2);
    // k beyond the list: everyone votes; ids outside the table cast no vote.
    EXPECT_EQ(KnnClassifier::vote({{-1, .9}, {5, .9}, {1, .1}}, 100, 2), 1);
    EXPECT_EQ(KnnClassifier::vote({}, 3, 2), 0);
    // Undefined similarities rank below every defined one.
    const double nan = std::nan("");
    EXPECT_EQ(KnnClassifier::vote({{0, nan}, {0, nan}, {1, -5.0}}, 1, 2), 1);
    // All undefined: training order decides.
    EXPECT_EQ(KnnClassifier::vote({{1, nan}, {0, nan}, {0, nan}}, 1, 2), 1);
}

TEST(KnnClassifier, ClassifiesFilesAndCachesTrainingUntilDropped) {
    TempDir dir;
    dir.write("train.dat", "1 1:1.000000\r\n2 2:1.000000\r\n\r\n2 2:0.9 3:0.1\r\n");
    dir.write("test.dat", "2 1:1.000000\n1 2:0.5 3:0.5\n0\n");
    KnnClassifier knn;
    knn.k = 1;
    knn.workspacePath = dir.dir();
    knn.categoryCount = 2;
    EXPECT_EQ(knn.classifyFile(dir.path("test.dat")), (std::vector<int32_t>{0, 1, 0}));
    EXPECT_TRUE(knn.trainingLoaded);
    EXPECT_EQ(knn.trainingDocuments().size(), 3u);

    // The cache is used until dropped.
    dir.write("train.dat", "2 1:1.000000\n");
    EXPECT_EQ(knn.classifyFile(dir.path("test.dat"))[0], 0);
    knn.trainingLoaded = false;
    EXPECT_EQ(knn.classifyFile(dir.path("test.dat"))[0], 1);

    EXPECT_TRUE(knn.classifyFile(dir.path("missing.dat")).empty());
    EXPECT_NE(knn.error().find("missing.dat"), std::string::npos);
    KnnClassifier fresh;
    fresh.workspacePath = dir.path("nowhere/");
    EXPECT_TRUE(fresh.classifyFile(dir.path("test.dat")).empty());
}

TEST(KnnClassifier, IndexedCosineEqualsTheDirectSumsOnEveryThreadCount) {
    // Random sparse vectors with many near-ties: the inverted-index path
    // must rank exactly like the direct similarity.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> id(1, 30), len(0, 6), cat(1, 4);
    std::uniform_real_distribution<double> w(0.0, 1.0);
    auto line = [&](int label) {
        std::string s = std::to_string(label);
        std::set<int> ids;
        for (int n = len(rng); n > 0; --n) ids.insert(id(rng));
        for (int i : ids) s += " " + std::to_string(i) + ":" + std::to_string(std::round(w(rng) * 4) / 4);
        return s + "\n";
    };
    std::string train, test;
    for (int i = 0; i < 200; ++i) train += line(cat(rng));
    for (int i = 0; i < 100; ++i) test += line(0);
    TempDir dir;
    dir.write("train.dat", train);
    dir.write("test.dat", test);

    KnnClassifier knn;
    knn.k = 5;
    knn.workspacePath = dir.dir();
    knn.categoryCount = 4;
    knn.threads = 1;
    const auto one = knn.classifyFile(dir.path("test.dat"));
    knn.threads = 3;
    EXPECT_EQ(knn.classifyFile(dir.path("test.dat")), one);

    // Reference: neighbour lists from the direct similarity.
    std::vector<int32_t> expected;
    std::vector<SparseVector> docs;
    forEachLine(test, [&](std::string_view l) {
        std::string_view items;
        splitVectorLine(l, items);
        docs.push_back(parseSparseVector(items));
    });
    for (const auto& b : docs) {
        std::vector<KnnClassifier::Neighbour> list;
        for (const auto& t : knn.trainingDocuments())
            list.push_back({t.category, KnnClassifier::similarityOf(t.vector, t.squaredNorm, b, squaredNorm(b), 0)});
        expected.push_back(KnnClassifier::vote(list, 5, 4));
    }
    EXPECT_EQ(one, expected);
}

TEST(SparseVector, ParsesLikeTheWorkspaceReaders) {
    std::string_view items;
    EXPECT_EQ(splitVectorLine("3 2:0.5  1:0.25 2:0.9 x 7:", items), 3);
    const SparseVector v = parseSparseVector(items);
    // Sorted, first weight of a repeated id kept, junk numbers read as 0.
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[0], (std::pair<uint32_t, double>{0, 0.25}));
    EXPECT_EQ(v[1], (std::pair<uint32_t, double>{1, 0.5}));
    EXPECT_EQ(v[2], (std::pair<uint32_t, double>{6, 0.0}));
    EXPECT_EQ(v[3].first, UINT32_MAX);  // "x": feature number 0
    EXPECT_EQ(splitVectorLine("5", items), 5);
    EXPECT_TRUE(items.empty());
}

TEST(KnnClassifier, MalformedVectorLinesAreWarnedAndCountedLikeTheSvm) {
    TempDir dir;
    dir.write("train.dat", "1 1:1.000000\n2 x:1\n2 2:1.000000\n1 2:0.5 1:0.5\n");
    dir.write("test.dat", "1 1:1.000000\n0 3:abc\n0 2:1.000000\n");
    KnnClassifier knn;
    knn.k = 1;
    knn.workspacePath = dir.dir();
    knn.categoryCount = 2;
    // Malformed training lines are skipped; a malformed classified line keeps its place.
    EXPECT_EQ(knn.classifyFile(dir.path("test.dat")), (std::vector<int32_t>{0, 0, 1}));
    EXPECT_EQ(knn.trainingDocuments().size(), 2u);
    EXPECT_NE(knn.warning().find("2 lines of " + dir.path("train.dat") + " skipped (first: line 2"),
              std::string::npos)
        << knn.warning();
    EXPECT_NE(knn.warning().find("1 line of " + dir.path("test.dat") + " skipped (first: line 2"),
              std::string::npos)
        << knn.warning();
}
