#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <set>

#include "classify/KnnClassifier.h"
#include "classify/KnnCosineBounds.h"

using namespace kestrel;

namespace {

// Random vectors with weights >= 0 over 60 features of skewed frequency
// (the first few in most documents, the rest rare), at magnitudes from
// 1e-40 to 1e40 and with some weights far below the others of their
// vector, so that the float roundings of the bounds meet tiny and huge
// values; some vectors are empty or all zero.
class WideVectors {
public:
    explicit WideVectors(unsigned seed) : rng_(seed) {}
    DocumentVector next() {
        DocumentVector v;
        const int kind = int(rng_() % 12);
        std::set<int> ids;
        if (kind > 0)
            for (int n = 1 + int(rng_() % 12); n > 0; --n) ids.insert(1 + int(std::pow(rng_() % 1000 / 1000.0, 3) * 60));
        const double scale = std::pow(10.0, int(rng_() % 81) - 40);
        for (int id : ids) {
            double w = kind == 1 ? 0.0 : scale * double(1 + rng_() % 8) / 8;
            if (rng_() % 5 == 0) w *= std::pow(10.0, -int(rng_() % 51));  // far below the others
            if (rng_() % 20 == 0) w = std::nextafter(w, 0.0);
            v.words.push_back({id, w});
        }
        v.words.push_back({0, 0.0});
        v.twoNorm = squaredNorm(v.list());
        return v;
    }

private:
    std::mt19937 rng_;
};

}  // namespace

TEST(KnnCosineBounds, NeverBelowTheSimilarityOfAnyPair) {
    WideVectors random(3);
    std::vector<DocumentVector> training;
    KnnTrainingSet set;
    for (int i = 0; i < 400; ++i) {
        training.push_back(random.next());
        set.add(i % 3, training.back());
    }
    std::vector<double> roots;
    for (const DocumentVector& a : training) roots.push_back(std::sqrt(a.twoNorm));
    KnnCosineBounds bounds;
    ASSERT_TRUE(bounds.build(set, roots));
    ASSERT_GT(bounds.groupCount(), 0u);

    size_t checked = 0;
    for (int i = 0; i < 150; ++i) {
        const DocumentVector b = random.next();
        const double root = std::sqrt(b.twoNorm);
        if (!KnnCosineBounds::usableRoot(root)) continue;
        // The rare share of every training document, and b's group norms.
        std::vector<double> rare(training.size(), 0.0);
        std::vector<double> squares(bounds.groupCount(), 0.0);
        for (size_t j = 0; j < b.size(); ++j) {
            const double w = b.words[j].weight / root;
            const int32_t place = bounds.place(b.words[j].wnum);
            if (place == KnnCosineBounds::kAbsent) continue;
            if (place < 0) {
                squares[size_t(-1 - place)] += w * w;
                continue;
            }
            const BoundColumn column = bounds.column(size_t(place));
            for (size_t p = 0; p < column.size; ++p) rare[column.documents[p]] += column.weight(p) * w;
        }
        std::vector<float> query;
        double all = 0.0;
        for (double s : squares) {
            query.push_back(KnnCosineBounds::normUp(s));
            all += s;
        }
        query.resize(bounds.groupStride(), 0.0f);
        const float frequent = KnnCosineBounds::normUp(all);
        for (size_t t = 0; t < training.size(); ++t) {
            const double similarity = KnnClassifier::similarityOf(training[t], b, Similarity::Cosine);
            if (std::isnan(similarity)) continue;
            ++checked;
            // A bound rules a document out only when it is below (an
            // undefined bound rules nothing out).
            ASSERT_FALSE(KnnCosineBounds::upper(rare[t], bounds.frequentNorm(t) * frequent) < similarity)
                << "test " << i << ", training " << t;
            ASSERT_FALSE(KnnCosineBounds::upper(rare[t], bounds.groupShare(t, query.data())) < similarity)
                << "test " << i << ", training " << t;
        }
    }
    EXPECT_GT(checked, 20000u);
}

TEST(KnnCosineBounds, RefusesWeightsTheBoundsDoNotHoldFor) {
    for (double w : {-0.5, 1e101, std::nan(""), HUGE_VAL}) {
        DocumentVector v;
        v.words = {{1, 0.5}, {2, w}, {0, 0.0}};
        v.twoNorm = squaredNorm(v.list());
        KnnTrainingSet set;
        set.add(0, v);
        KnnCosineBounds bounds;
        EXPECT_FALSE(bounds.build(set, {std::sqrt(v.twoNorm)})) << w;
        EXPECT_TRUE(bounds.empty());
    }
    EXPECT_EQ(KnnCosineBounds::roundedUp(1e39), HUGE_VALF);
    EXPECT_GT(KnnCosineBounds::roundedUp(1e-50), 0.0f);
    EXPECT_GE(double(KnnCosineBounds::roundedUp(0.1)), 0.1);
    // The upper half of a float, rounded up: within 1% above for normal
    // floats, and still above for the smallest ones.
    auto half = [](float f) { return std::bit_cast<float>(uint32_t(KnnCosineBounds::upperHalfUp(f)) << 16); };
    for (float f : {0.1f, 1.0f, 3e38f}) {
        EXPECT_GE(half(f), f);
        EXPECT_LE(half(f), f * 1.01f);
    }
    EXPECT_GT(half(1e-40f), 1e-40f);
    EXPECT_EQ(half(0.0f), 0.0f);
}
