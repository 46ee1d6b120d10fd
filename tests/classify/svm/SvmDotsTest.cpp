// Dot products of documents with a dense vector, several at a time: every
// sum must be the very double of a plain sum in entry order, because the
// training's choices (and so the model files) depend on the last bit.
#include <cstring>
#include <random>

#include "SvmTestUtil.h"
#include "classify/svm/TrainState.h"

namespace kestrel {
namespace {

double plainDot(const std::vector<double>& dense, const SvmDoc& doc) {
    double sum = 0.0;
    for (const SvmWord* e = doc.list(); e->wnum; ++e) sum += dense[size_t(e->wnum)] * e->weight;
    return sum;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(SvmDots, GroupedSumsEqualPlainSumsBitForBit) {
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const int32_t features = 80;
    std::vector<double> dense(size_t(features) + 1, 0.0);
    for (int32_t f = 1; f <= features; ++f)
        // Mixed magnitudes and exact zeros make rounding depend on order.
        dense[size_t(f)] = f % 7 == 0 ? 0.0 : unit(random) * (f % 3 == 0 ? 1e8 : 1e-3);
    std::vector<SvmDoc> docs(23);
    for (size_t d = 0; d < docs.size(); ++d) {
        // Lengths from empty to long, so that groups end at different points.
        const int32_t length = d == 4 ? 0 : int32_t(random() % 50);
        for (int32_t f = 1; f <= features && int32_t(docs[d].words.size()) < length; ++f)
            if (random() % 2) docs[d].words.push_back({f, unit(random) * (d % 2 ? 1e5 : 1.0)});
        docs[d].words.push_back({0, 0.0});
    }
    std::vector<const SvmDoc*> pointers;
    for (const SvmDoc& doc : docs) pointers.push_back(&doc);

    for (size_t from = 0; from < 5; ++from)
        for (size_t count = 0; from + count <= docs.size(); ++count) {
            std::vector<double> out(count + 1, -7.0);
            denseDots(dense.data(), pointers.data() + from, count, out.data());
            for (size_t j = 0; j < count; ++j)
                EXPECT_TRUE(sameBits(out[j], plainDot(dense, docs[from + j])))
                    << "document " << from + j << " in a group of " << count;
            EXPECT_EQ(out[count], -7.0);  // nothing written past the end
        }
}

}  // namespace
}  // namespace kestrel
