// Kernel functions and the decision function of the SVM engine.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "classify/svm/CSVM.h"

namespace kestrel {

namespace {

// Kernel values are kept in single precision (the kernel cache stores
// floats); values beyond the float range become infinities instead of an
// undefined conversion.
double toSingle(double x) {
    if (x > double(FLT_MAX)) return double(HUGE_VALF);
    if (x < -double(FLT_MAX)) return -double(HUGE_VALF);
    return double(float(x));
}

// A dense weight vector above this many entries (and well above the model's
// own size) is kept as a sparse list instead, so a stray huge feature number
// cannot demand gigabytes.
constexpr int64_t kDenseWeightLimit = int64_t(1) << 22;

}  // namespace

double CSVM::sparseDot(const SvmWord* a, const SvmWord* b) {
    double sum = 0.0;
    while (a->wnum && b->wnum) {
        if (a->wnum > b->wnum) {
            ++b;
        } else if (a->wnum < b->wnum) {
            ++a;
        } else {
            sum += a->weight * b->weight;
            ++a;
            ++b;
        }
    }
    return sum;
}

double CSVM::customKernel(const SvmDoc& a, const SvmDoc& b) {
    // Squared Euclidean distance over the union of the two feature sets.
    double distance = 0.0;
    const SvmWord* p = a.list();
    const SvmWord* q = b.list();
    while (p->wnum || q->wnum) {
        if (p->wnum && (!q->wnum || p->wnum < q->wnum)) {
            distance += p->weight * p->weight;
            ++p;
        } else if (q->wnum && (!p->wnum || q->wnum < p->wnum)) {
            distance += q->weight * q->weight;
            ++q;
        } else {
            double d = p->weight - q->weight;
            distance += d * d;
            ++p;
            ++q;
        }
    }
    double t = sparseDot(a.list(), b.list()) + 20.0;
    return std::exp(-0.0001 * distance) * (t * t * t);
}

double CSVM::kernelFromDot(const KernelParams& params, double dot, const SvmDoc& a,
                           const SvmDoc& b) {
    switch (params.kernelType) {
    case kLinear:
        return toSingle(dot);
    case kPolynomial:
        return toSingle(std::pow(params.coefLin * dot + params.coefConst, double(params.degree)));
    case kRadialBasis:
        return toSingle(std::exp(-params.gamma * (a.twoNorm - 2.0 * dot + b.twoNorm)));
    case kSigmoid:
        return toSingle(std::tanh(params.coefLin * dot + params.coefConst));
    case kCustom:
        return toSingle(customKernel(a, b));
    default:
        return -1.0;
    }
}

double CSVM::kernel(const KernelParams& params, const SvmDoc& a, const SvmDoc& b) {
    if (params.kernelType < kLinear || params.kernelType > kSigmoid)
        return kernelFromDot(params, 0.0, a, b);
    return kernelFromDot(params, sparseDot(a.list(), b.list()), a, b);
}

double CSVM::classifyExample(const SvmModel& model, const SvmDoc& doc) {
    double sum = 0.0;
    for (int32_t i = 1; i < model.svNum; ++i)
        sum += model.alpha[i] * kernel(model.kernel, *model.supvec[i], doc);
    return sum - model.b;
}

void CSVM::addLinearWeights(SvmModel& model) {
    model.linWeights.clear();
    model.sparseWeights.clear();
    int64_t entries = 0;
    for (int32_t i = 1; i < model.svNum; ++i) entries += int64_t(model.supvec[i]->size());
    int64_t size = int64_t(model.totWords) + 1;
    if (size <= kDenseWeightLimit || size <= 4 * entries) {
        model.linWeights.assign(size_t(size), 0.0);
        for (int32_t i = 1; i < model.svNum; ++i) {
            // Entries above the highest feature index can never meet a
            // document entry (those are dropped before scoring).
            for (const SvmWord* w = model.supvec[i]->list(); w->wnum; ++w)
                if (w->wnum < size) model.linWeights[size_t(w->wnum)] += model.alpha[i] * w->weight;
        }
    } else {
        // Same sums as the dense vector, keyed by feature number: each
        // feature's weight accumulates in support-vector order.
        std::vector<std::pair<int32_t, int32_t>> order;  // (feature, support vector)
        order.reserve(size_t(entries));
        for (int32_t i = 1; i < model.svNum; ++i)
            for (const SvmWord* w = model.supvec[i]->list(); w->wnum; ++w)
                if (w->wnum < size) order.push_back({w->wnum, i});
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (size_t j = 0; j < order.size();) {
            int32_t feature = order[j].first;
            double sum = 0.0;
            for (; j < order.size() && order[j].first == feature; ++j) {
                const SvmDoc* sv = model.supvec[order[j].second];
                // Find the entry of this feature in the support vector.
                const SvmWord* w = std::lower_bound(
                    sv->list(), sv->list() + sv->size(), feature,
                    [](const SvmWord& e, int32_t f) { return e.wnum < f; });
                sum += model.alpha[order[j].second] * w->weight;
            }
            model.sparseWeights.push_back({feature, sum});
        }
        model.sparseWeights.push_back({0, 0.0});
    }
    model.hasLinearWeights = true;
}

double CSVM::classifyLinear(const SvmModel& model, const SvmDoc& doc) {
    // Entries above the model's highest feature index are dropped (they are
    // the tail of the list, and no weight has their feature number).
    double sum = 0.0;
    if (!model.sparseWeights.empty()) {
        sum = sparseDot(model.sparseWeights.data(), doc.list());
    } else {
        const double* weights = model.linWeights.data();
        for (const SvmWord* w = doc.list(); w->wnum && w->wnum <= model.totWords; ++w) sum += weights[w->wnum] * w->weight;
    }
    return sum - model.b;
}

}  // namespace kestrel
