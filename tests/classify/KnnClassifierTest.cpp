#include <gtest/gtest.h>

#include <cmath>
#include <map>
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

double sim(const DocumentVector& a, const DocumentVector& b, Similarity code) {
    return KnnClassifier::similarityOf(a, b, code);
}

}  // namespace

TEST(KnnClassifier, SimilarityValues) {
    const DocumentVector a = vec({{1, 0.6}, {2, 0.8}});
    const DocumentVector b = vec({{2, 0.6}, {3, 0.8}});
    EXPECT_NEAR(sim(a, b, Similarity::Manhattan), -1.6, 1e-12);
    EXPECT_NEAR(sim(a, b, Similarity::Euclidean), -std::sqrt(0.36 + 0.04 + 0.64), 1e-12);
    EXPECT_NEAR(sim(a, b, Similarity::Cosine), 0.48, 1e-12);
    EXPECT_EQ(sim(a, a, Similarity::Euclidean), 0.0);
    const DocumentVector c = vec({{6, 1.0}});
    EXPECT_NEAR(sim(a, c, Similarity::Euclidean), -std::sqrt(2.0), 1e-12);
    EXPECT_TRUE(std::isnan(sim(a, vec({}), Similarity::Cosine)));
    // Any code other than 0 and 2 measures the Manhattan distance.
    EXPECT_EQ(sim(a, b, static_cast<Similarity>(7)), sim(a, b, Similarity::Manhattan));
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
    EXPECT_EQ(knn.training().size(), 3u);
    const uint32_t* kept = knn.training().column(0).documents;
    EXPECT_EQ(*knn.classifyFile(dir.path("test.dat")), (std::vector<int32_t>{0, 1, 0}));
    EXPECT_EQ(knn.training().column(0).documents, kept);  // not read again

    // A rewritten train.dat is read again.
    dir.write("train.dat", "2 1:1.000000\n");
    EXPECT_EQ((*knn.classifyFile(dir.path("test.dat")))[0], 1);
    EXPECT_EQ(knn.training().size(), 1u);

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
    const VectorSet training = parseVectors(train, RejectedLines::kSkip);
    for (const auto& b : parseVectors(test, RejectedLines::kSkip).docs) {
        std::vector<KnnClassifier::Neighbour> list;
        for (size_t t = 0; t < training.docs.size(); ++t)
            list.push_back({int32_t(training.labels[t] - 1), KnnClassifier::similarityOf(training.docs[t], b, Similarity::Cosine)});
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
    EXPECT_EQ(knn.training().size(), 2u);
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

namespace {

// The training categories ranked as the rule states it, by a full stable
// sort: larger similarity first, undefined ones last, ties in training order.
std::vector<int32_t> rankBySorting(const VectorSet& training, const DocumentVector& b, Similarity code) {
    std::vector<std::pair<double, int32_t>> list;
    for (size_t t = 0; t < training.docs.size(); ++t)
        list.push_back({KnnClassifier::similarityOf(training.docs[t], b, code), int32_t(training.labels[t] - 1)});
    std::stable_sort(list.begin(), list.end(), [](const auto& x, const auto& y) {
        if (std::isnan(x.first) != std::isnan(y.first)) return std::isnan(y.first);
        return !std::isnan(x.first) && x.first > y.first;
    });
    std::vector<int32_t> ranked;
    for (const auto& entry : list) ranked.push_back(entry.second);
    return ranked;
}

// The first k vote; the lowest category wins a tie of votes.
int32_t voteOfRanked(const std::vector<int32_t>& ranked, uint32_t k, uint32_t categoryCount) {
    std::vector<int> votes(categoryCount, 0);
    for (size_t n = 0; n < ranked.size() && n < k; ++n)
        if (ranked[n] >= 0 && uint32_t(ranked[n]) < categoryCount) ++votes[size_t(ranked[n])];
    return int32_t(std::max_element(votes.begin(), votes.end()) - votes.begin());
}

}  // namespace

namespace {

// Random vector lines: coarse weights (some negative) make many equal
// similarities; empty vectors and all-zero weights make undefined cosines;
// huge feature numbers, if asked for, take the training set off its tables
// by feature number.
class RandomVectors {
public:
    RandomVectors(unsigned seed, bool hugeFeatures) : rng_(seed), huge_(hugeFeatures) {}
    std::string lines(int count, bool labelled) {
        std::string out;
        for (int i = 0; i < count; ++i) out += line(labelled ? 1 + int(rng_() % 4) : 0);
        return out;
    }

private:
    std::string line(int label) {
        std::string s = std::to_string(label);
        const int kind = int(rng_() % 10);
        if (kind == 0) return s + "\n";
        if (kind == 1) return s + " 4:0.000000 9:0.000000\n";
        std::set<int> ids;
        for (int n = 1 + int(rng_() % 6); n > 0; --n) ids.insert(1 + int(rng_() % 30));
        for (int i : ids) s += " " + std::to_string(i) + ":" + std::to_string(double(int(rng_() % 6) - 1) / 4);
        if (kind == 2 && huge_) s += " 2000000000:0.5";
        return s + "\n";
    }
    std::mt19937 rng_;
    bool huge_;
};

// Classifies test.dat of `dir` with each k and checks every document against
// the sorted merge sums of its measure.
void expectVotesOfTheSortedMergeSums(KnnClassifier& knn, const TempDir& dir, std::initializer_list<uint32_t> ks) {
    const VectorSet training = parseVectors(dir.read("train.dat"), RejectedLines::kSkip);
    const VectorSet docs = parseVectors(dir.read("test.dat"), RejectedLines::kKeepEmpty);
    std::vector<std::vector<int32_t>> ranked;
    for (const DocumentVector& b : docs.docs) ranked.push_back(rankBySorting(training, b, knn.similarity));
    for (uint32_t k : ks) {
        knn.k = k;
        const auto assigned = knn.classifyFile(dir.path("test.dat"));
        ASSERT_TRUE(assigned.ok()) << assigned.message();
        ASSERT_EQ(assigned->size(), docs.docs.size());
        for (size_t d = 0; d < docs.docs.size(); ++d)
            ASSERT_EQ((*assigned)[d], voteOfRanked(ranked[d], k, knn.categoryCount))
                << "measure " << static_cast<uint32_t>(knn.similarity) << ", k " << k << ", document " << d;
    }
}

// A classifier over the training vectors in `dir`, with four categories.
KnnClassifier classifierOver(const TempDir& dir) {
    KnnClassifier knn;
    knn.workspacePath = dir.dir();
    knn.categoryCount = 4;
    return knn;
}

}  // namespace

TEST(KnnClassifier, EveryMeasureVotesLikeTheSortedMergeSums) {
    // More training documents than the cosine sums at a time, k from none
    // to more than there are, and the measure changed on the same training
    // file (the cosine gives up the rows the distances read).
    for (bool huge : {false, true}) {
        RandomVectors random(5, huge);
        TempDir dir;
        dir.write("train.dat", random.lines(1100, true));
        dir.write("test.dat", random.lines(150, false));
        KnnClassifier knn = classifierOver(dir);
        knn.threads = 2;
        for (Similarity code : {Similarity::Cosine, Similarity::Euclidean, Similarity::Manhattan,
                              Similarity::Cosine}) {
            knn.similarity = code;
            expectVotesOfTheSortedMergeSums(knn, dir, {0u, 1u, 7u, 5000u});
        }
    }
}

TEST(KnnClassifier, AdoptedTrainingVectorsScoreLikeTheFile) {
    RandomVectors random(6, false);
    TempDir dir;
    dir.write("train.dat", random.lines(300, true));
    dir.write("test.dat", random.lines(100, false));
    KnnClassifier knn = classifierOver(dir);
    for (Similarity code : {Similarity::Cosine, Similarity::Euclidean}) {
        knn.similarity = code;
        const auto read = knn.classifyFile(dir.path("test.dat"));
        knn.adoptTraining(dir.path("train.dat"), parseVectors(dir.read("train.dat"), RejectedLines::kSkip));
        const auto inMemory = knn.classify(parseVectors(dir.read("test.dat"), RejectedLines::kKeepEmpty).docs);
        ASSERT_TRUE(read.ok() && inMemory.ok());
        EXPECT_EQ(*inMemory, *read) << "measure " << static_cast<uint32_t>(code);
    }
}

TEST(KnnClassifier, FilesLongerThanOneBlockKeepEveryLineInPlace) {
    // The file to classify is read a block of documents at a time; a
    // malformed line past the first block keeps its place and is reported
    // with its line number.
    RandomVectors random(9, true);
    TempDir dir;
    dir.write("train.dat", random.lines(120, true));
    dir.write("test.dat", random.lines(4100, false) + "0 5:x\n" + random.lines(200, false));
    KnnClassifier knn = classifierOver(dir);
    for (Similarity code : {Similarity::Cosine, Similarity::Manhattan}) {
        knn.similarity = code;
        knn.threads = code == Similarity::Cosine ? 1 : 2;
        expectVotesOfTheSortedMergeSums(knn, dir, {7u});
        EXPECT_NE(knn.fileWarning().find("1 line of " + dir.path("test.dat") + " skipped (first: line 4101"),
                  std::string::npos)
            << knn.fileWarning();
    }
}

namespace {

// Vector lines with weights >= 0, as the system writes them, over features
// of skewed frequency (a few in most documents, most rare), with coarse
// weights that make equal similarities.
std::string skewedLine(std::mt19937& rng, int label) {
    std::string s = std::to_string(label);
    std::set<int> ids;
    for (int n = 1 + int(rng() % 10); n > 0; --n) ids.insert(1 + int(std::pow(rng() % 1000 / 1000.0, 2) * 200));
    for (int i : ids) s += " " + std::to_string(i) + ":" + std::to_string(double(1 + rng() % 4) / 4);
    return s + "\n";
}

}  // namespace

TEST(KnnClassifier, BoundsRankExactlyLikeEveryPair) {
    // More training documents than one tile of the bounds, with copies far
    // apart in training order (equal similarities at the k-th place, bounds
    // that equal it), empty and all-zero documents (undefined cosines), one
    // whose norm the bounds cannot use; documents to classify that are
    // empty, share nothing or a single rare feature (fewer than k
    // similarities above 0), copy a training document, or have a negative
    // or tiny weight (summed with every training document).
    std::mt19937 rng(11);
    std::vector<std::string> lines;
    for (int i = 0; i < 5000; ++i) lines.push_back(skewedLine(rng, 1 + int(rng() % 9)));
    for (int i = 0; i < 12; ++i) lines[size_t(4500 + i * 40)] = "3" + lines[size_t(i * 7)].substr(1);
    lines[10] = "2\n";
    lines[4200] = "4 7:0.000000\n";
    lines[4300] = "5 8:1e-120 9:1e-130\n";
    std::string train, test;
    for (const std::string& line : lines) train += line;
    for (int i = 0; i < 60; ++i) test += skewedLine(rng, 0);
    for (int i = 0; i < 12; ++i) test += "0" + lines[size_t(i * 7)].substr(1);
    test += "0\n0 999:0.5\n0 199:0.25\n0 198:1.0 999:2.0\n0 1:-0.5 2:0.5\n0 1:1e-120 3:1e-130\n";
    TempDir dir;
    dir.write("train.dat", train);
    dir.write("test.dat", test);
    KnnClassifier knn;
    knn.workspacePath = dir.dir();
    knn.categoryCount = 9;
    knn.boundsFrom = 0;
    knn.threads = 2;
    expectVotesOfTheSortedMergeSums(knn, dir, {0u, 1u, 3u, 12u, 20u, 6000u});

    // The same votes as the sums over every pair, which a new classifier
    // that never uses the bounds makes.
    knn.k = 5;
    const auto bounded = knn.classifyFile(dir.path("test.dat"));
    KnnClassifier columns = classifierOver(dir);
    columns.categoryCount = 9;
    columns.k = 5;
    columns.boundsFrom = SIZE_MAX;
    const auto summed = columns.classifyFile(dir.path("test.dat"));
    ASSERT_TRUE(bounded.ok() && summed.ok());
    EXPECT_EQ(*bounded, *summed);
    // Vectors handed over in memory rank with the bounds as well.
    knn.adoptTraining(dir.path("train.dat"), parseVectors(train, RejectedLines::kSkip));
    const auto inMemory = knn.classify(parseVectors(test, RejectedLines::kKeepEmpty).docs);
    ASSERT_TRUE(inMemory.ok());
    EXPECT_EQ(*inMemory, *bounded);

    // A training set so small that every feature is frequent: no rare
    // columns, no seeds.
    TempDir small;
    small.write("train.dat", lines[0] + lines[1] + lines[2] + lines[3]);
    small.write("test.dat", test);
    KnnClassifier few = classifierOver(small);
    few.categoryCount = 9;
    few.boundsFrom = 0;
    expectVotesOfTheSortedMergeSums(few, small, {1u, 3u, 7u});
}
