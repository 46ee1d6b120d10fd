#include "classify/KnnCosineBounds.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cmath>
#include <limits>
#include <numeric>

namespace kestrel {

namespace {

// A feature held by at least this share of the training documents is
// frequent: its column would be long, and its weights are small (a low idf).
constexpr size_t kFrequentShareInverse = 10;
// Groups of frequent features: more make the bound tighter, and cost 4 bytes
// per training document each.
constexpr size_t kGroups = 64;

}  // namespace

float KnnCosineBounds::roundedUp(double x) {
    if (!(x <= static_cast<double>(std::numeric_limits<float>::max()))) return std::numeric_limits<float>::infinity();
    const float f = static_cast<float>(x);
    if (!(static_cast<double>(f) < x)) return f;
    // The next float up: for a float >= 0 the next bit pattern.
    if (f >= 0.0f) return std::bit_cast<float>(std::bit_cast<uint32_t>(f) + 1);
    return std::nextafter(f, std::numeric_limits<float>::infinity());
}

uint16_t KnnCosineBounds::upperHalfUp(float f) {
    // Dropping the lower half rounds down; one more in the upper half then
    // rounds up (the largest finite float becomes infinity).
    const uint32_t bits = std::bit_cast<uint32_t>(f);
    return static_cast<uint16_t>((bits >> 16) + ((bits & 0xFFFFu) != 0 ? 1 : 0));
}

float KnnCosineBounds::normUp(double squares) {
    return roundedUp(std::sqrt(squares) * (1.0 + 0x1p-30));
}

int32_t KnnCosineBounds::place(int32_t feature) const {
    const auto at = std::lower_bound(features_.begin(), features_.end(), feature);
    if (at == features_.end() || *at != feature) return kAbsent;
    return places_[static_cast<size_t>(at - features_.begin())];
}

float KnnCosineBounds::groupShare(size_t t, const float* query) const {
    // Four floats at a time in four independent sums: this is a bound (the
    // margin covers its rounding in any order), and sums chained one after
    // another would wait on each other. The groups are padded to a
    // multiple of 16 with zero norms.
    using Floats = float __attribute__((vector_size(16)));
    const float* norms = groupNorms_.get() + t * groupStride_;
    Floats sums[4] = {};
    for (size_t i = 0; i < groupStride_; i += 16) {
        for (size_t j = 0; j < 4; ++j) {
            Floats n, q;
            std::memcpy(&n, norms + i + 4 * j, sizeof n);
            std::memcpy(&q, query + i + 4 * j, sizeof q);
            sums[j] += n * q;
        }
    }
    const Floats all = (sums[0] + sums[1]) + (sums[2] + sums[3]);
    return (all[0] + all[1]) + (all[2] + all[3]);
}

BoundColumn KnnCosineBounds::column(size_t c) const {
    const size_t start = columnStarts_[c];
    return {columnDocuments_.get() + start, columnWeights_.get() + start, columnStarts_[c + 1] - start};
}

size_t KnnCosineBounds::assignPlaces(const KnnTrainingSet& training) {
    // Frequent features ranked by decreasing document frequency, cut into
    // groups of consecutive ranks; the others get a column each, in
    // feature order.
    const size_t n = training.size();
    std::vector<size_t> counts;
    training.countFeatures(features_, counts);
    std::vector<size_t> frequent;
    for (size_t i = 0; i < features_.size(); ++i)
        if (counts[i] * kFrequentShareInverse >= n) frequent.push_back(i);
    std::stable_sort(frequent.begin(), frequent.end(), [&](size_t x, size_t y) { return counts[x] > counts[y]; });
    groupCount_ = std::min(kGroups, frequent.size());
    groupStride_ = (groupCount_ + 15) / 16 * 16;
    places_.assign(features_.size(), 0);
    for (size_t r = 0; r < frequent.size(); ++r)
        places_[frequent[r]] = -1 - static_cast<int32_t>(r * groupCount_ / frequent.size());
    size_t columns = 0;
    for (size_t i = 0; i < features_.size(); ++i)
        if (counts[i] * kFrequentShareInverse < n) places_[i] = static_cast<int32_t>(columns++);
    return columns;
}

bool KnnCosineBounds::build(const KnnTrainingSet& training, const std::vector<double>& roots) {
    *this = KnnCosineBounds();
    const size_t n = training.size();
    for (size_t t = 0; t < n; ++t) {
        const SparseRow row = training.row(t);
        for (size_t i = 0; i < row.size; ++i)
            if (!usableWeight(row.weights[i])) return false;
    }
    const size_t columns = assignPlaces(training);

    // A table by feature number spares the search when the numbers are dense.
    std::vector<int32_t> placeOf;
    if (training.denseFeatures()) {
        placeOf.assign(static_cast<size_t>(training.highestFeature()) + 1, kAbsent);
        for (size_t i = 0; i < features_.size(); ++i) placeOf[static_cast<size_t>(features_[i])] = places_[i];
    }
    auto placeOfFeature = [&](int32_t f) { return placeOf.empty() ? place(f) : placeOf[static_cast<size_t>(f)]; };

    columnStarts_.assign(columns + 1, 0);
    for (size_t t = 0; t < n; ++t) {
        if (!usableRoot(roots[t])) continue;
        const SparseRow row = training.row(t);
        for (size_t i = 0; i < row.size; ++i)
            if (const int32_t p = placeOfFeature(row.features[i]); p >= 0) ++columnStarts_[static_cast<size_t>(p) + 1];
    }
    std::partial_sum(columnStarts_.begin(), columnStarts_.end(), columnStarts_.begin());
    columnDocuments_.reset(new uint32_t[columnStarts_.back()]);
    columnWeights_.reset(new uint16_t[columnStarts_.back()]);
    groupNorms_.reset(new float[n * groupStride_]());
    frequentNorms_.reset(new float[n]);
    std::vector<size_t> cursor(columnStarts_.begin(), columnStarts_.end() - 1);
    std::vector<double> sums(groupCount_);

    // A training document whose norm the bounds cannot use gets infinite
    // norms and is always summed.
    for (size_t t = 0; t < n; ++t) {
        float* norms = groupNorms_.get() + t * groupStride_;
        if (!usableRoot(roots[t])) {
            std::fill(norms, norms + groupCount_, std::numeric_limits<float>::infinity());
            frequentNorms_[t] = std::numeric_limits<float>::infinity();
            continue;
        }
        std::fill(sums.begin(), sums.end(), 0.0);
        const SparseRow row = training.row(t);
        for (size_t i = 0; i < row.size; ++i) {
            const double a = row.weights[i] / roots[t];
            const int32_t p = placeOfFeature(row.features[i]);
            if (p < 0) {
                sums[static_cast<size_t>(-1 - p)] += a * a;
                continue;
            }
            const size_t at = cursor[static_cast<size_t>(p)]++;
            columnDocuments_[at] = static_cast<uint32_t>(t);
            columnWeights_[at] = upperHalfUp(weightUp(a));
        }
        double all = 0.0;
        for (size_t g = 0; g < groupCount_; ++g) {
            norms[g] = normUp(sums[g]);
            all += sums[g];
        }
        frequentNorms_[t] = normUp(all);
    }
    built_ = true;
    return true;
}

}  // namespace kestrel
