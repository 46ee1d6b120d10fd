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

// A document vector of (feature number, weight) entries.
DocumentVector vec(std::initializer_list<std::pair<int32_t, double>> entries) {
    DocumentVector v;
    for (const auto& [f, w] : entries) v.words.push_back({f, w});
    v.words.push_back({0, 0.0});
    v.twoNorm = squaredNorm(v.list());
    return v;
}

double sim(const DocumentVector& a, const DocumentVector& b, uint32_t code) {
    return KnnClassifier::similarityOf(a, b, code);
}

}  // namespace

TEST(KnnClassifier, SimilarityValues) {
    const DocumentVector a = vec({{1, 0.6}, {2, 0.8}});
    const DocumentVector b = vec({{2, 0.6}, {3, 0.8}});
    EXPECT_NEAR(sim(a, b, KnnClassifier::kManhattan), -1.6, 1e-12);
    EXPECT_NEAR(sim(a, b, KnnClassifier::kEuclidean), -std::sqrt(0.36 + 0.04 + 0.64), 1e-12);
    EXPECT_NEAR(sim(a, b, KnnClassifier::kCosine), 0.48, 1e-12);
    EXPECT_EQ(sim(a, a, KnnClassifier::kEuclidean), 0.0);
    const DocumentVector c = vec({{6, 1.0}});
    EXPECT_NEAR(sim(a, c, KnnClassifier::kEuclidean), -std::sqrt(2.0), 1e-12);
    EXPECT_TRUE(std::isnan(sim(a, vec({}), KnnClassifier::kCosine)));
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

TEST(KnnClassifier, ClassifiesFilesAndKeepsTrainingWhileTheFileStaysTheSame) {
    TempDir dir;
    dir.write("train.dat", "1 1:1.000000\r\n2 2:1.000000\r\n\r\n2 2:0.9 3:0.1\r\n");
    dir.write("test.dat", "2 1:1.000000\n1 2:0.5 3:0.5\n0\n");
    KnnClassifier knn;
    knn.k = 1;
    knn.workspacePath = dir.dir();
    knn.categoryCount = 2;
    EXPECT_EQ(*knn.classifyFile(dir.path("test.dat")), (std::vector<int32_t>{0, 1, 0}));
    EXPECT_EQ(knn.trainingDocuments().size(), 3u);
    const VectorEntry* kept = knn.trainingDocuments()[0].vector.list();
    EXPECT_EQ(*knn.classifyFile(dir.path("test.dat")), (std::vector<int32_t>{0, 1, 0}));
    EXPECT_EQ(knn.trainingDocuments()[0].vector.list(), kept);  // not read again

    // A rewritten train.dat is read again.
    dir.write("train.dat", "2 1:1.000000\n");
    EXPECT_EQ((*knn.classifyFile(dir.path("test.dat")))[0], 1);
    EXPECT_EQ(knn.trainingDocuments().size(), 1u);

    auto missing = knn.classifyFile(dir.path("missing.dat"));
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.message().find("missing.dat"), std::string::npos);
    KnnClassifier fresh;
    fresh.workspacePath = dir.path("nowhere/");
    auto noTraining = fresh.classifyFile(dir.path("test.dat"));
    ASSERT_FALSE(noTraining);
    EXPECT_NE(noTraining.message().find("train.dat"), std::string::npos);
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
    const auto one = *knn.classifyFile(dir.path("test.dat"));
    knn.threads = 3;
    EXPECT_EQ(*knn.classifyFile(dir.path("test.dat")), one);

    // Reference: neighbour lists from the direct similarity.
    std::vector<int32_t> expected;
    for (const auto& b : parseVectors(test, RejectedLines::kSkip).docs) {
        std::vector<KnnClassifier::Neighbour> list;
        for (const auto& t : knn.trainingDocuments())
            list.push_back({t.category, KnnClassifier::similarityOf(t.vector, b, 0)});
        expected.push_back(KnnClassifier::vote(list, 5, 4));
    }
    EXPECT_EQ(one, expected);
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
    EXPECT_EQ(*knn.classifyFile(dir.path("test.dat")), (std::vector<int32_t>{0, 0, 1}));
    EXPECT_EQ(knn.trainingDocuments().size(), 2u);
    EXPECT_NE(knn.warning().find("2 lines of " + dir.path("train.dat") + " skipped (first: line 2"),
              std::string::npos)
        << knn.warning();
    EXPECT_NE(knn.warning().find("1 line of " + dir.path("test.dat") + " skipped (first: line 2"),
              std::string::npos)
        << knn.warning();
}

TEST(KnnClassifier, AdoptedTrainingVectorsServeUntilTheFileChanges) {
    TempDir dir;
    dir.write("train.dat", "1 1:1.000000\n");
    dir.write("test.dat", "0 2:1.000000\n");
    KnnClassifier knn;
    knn.k = 1;
    knn.workspacePath = dir.dir();
    knn.categoryCount = 2;
    // Vectors handed over as those of train.dat are not read back from it.
    knn.adoptTraining(dir.path("train.dat"), parseVectors("2 2:1.000000\n", RejectedLines::kSkip));
    EXPECT_EQ(*knn.classifyFile(dir.path("test.dat")), std::vector<int32_t>{1});
    dir.write("train.dat", "1 2:1.000000\n");
    EXPECT_EQ(*knn.classifyFile(dir.path("test.dat")), std::vector<int32_t>{0});
}
