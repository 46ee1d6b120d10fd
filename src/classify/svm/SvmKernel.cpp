// Kernel functions and the decision function of the SVM engine.
#include "classify/svm/SvmKernel.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

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

double sparseDot(const VectorEntry* a, const VectorEntry* b) {
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

double customKernel(const DocumentVector& a, const DocumentVector& b) {
    // Squared Euclidean distance over the union of the two feature sets.
    double distance = 0.0;
    const VectorEntry* p = a.list();
    const VectorEntry* q = b.list();
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

double kernelFromDot(const KernelParams& params, double dot, const DocumentVector& a, const DocumentVector& b) {
    switch (params.kernelType) {
    case KernelType::Linear:
        return toSingle(dot);
    case KernelType::Polynomial:
        return toSingle(std::pow(params.coefLin * dot + params.coefConst, double(params.degree)));
    case KernelType::RadialBasis:
        return toSingle(std::exp(-params.gamma * (a.twoNorm - 2.0 * dot + b.twoNorm)));
    case KernelType::Sigmoid:
        return toSingle(std::tanh(params.coefLin * dot + params.coefConst));
    case KernelType::Custom:
        return toSingle(customKernel(a, b));
    default:
        return -1.0;
    }
}

double kernelValue(const KernelParams& params, const DocumentVector& a, const DocumentVector& b) {
    if (!isDotProductKernel(params.kernelType)) return kernelFromDot(params, 0.0, a, b);
    return kernelFromDot(params, sparseDot(a.list(), b.list()), a, b);
}

double classifyExample(const SvmModel& model, const DocumentVector& doc) {
    double sum = 0.0;
    for (int32_t i = 1; i < model.svNum; ++i)
        sum += model.alpha[i] * kernelValue(model.kernel, *model.supvec[i], doc);
    return sum - model.b;
}

void addLinearWeights(SvmModel& model) {
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
            for (const VectorEntry* w = model.supvec[i]->list(); w->wnum; ++w)
                if (w->wnum < size) model.linWeights[size_t(w->wnum)] += model.alpha[i] * w->weight;
        }
    } else {
        // Same sums as the dense vector, keyed by feature number: each
        // feature's weight accumulates in support-vector order.
        std::vector<std::pair<int32_t, int32_t>> order;  // (feature, support vector)
        order.reserve(size_t(entries));
        for (int32_t i = 1; i < model.svNum; ++i)
            for (const VectorEntry* w = model.supvec[i]->list(); w->wnum; ++w)
                if (w->wnum < size) order.push_back({w->wnum, i});
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (size_t j = 0; j < order.size();) {
            int32_t feature = order[j].first;
            double sum = 0.0;
            for (; j < order.size() && order[j].first == feature; ++j) {
                const DocumentVector* sv = model.supvec[order[j].second];
                // Find the entry of this feature in the support vector.
                const VectorEntry* w = std::lower_bound(
                    sv->list(), sv->list() + sv->size(), feature,
                    [](const VectorEntry& e, int32_t f) { return e.wnum < f; });
                sum += model.alpha[order[j].second] * w->weight;
            }
            model.sparseWeights.push_back({feature, sum});
        }
        model.sparseWeights.push_back({0, 0.0});
    }
    model.hasLinearWeights = true;
}

double classifyLinear(const SvmModel& model, const DocumentVector& doc) {
    // Entries are ascending: those above the model's highest feature index
    // come last and are left out (the sparse weights hold none of them).
    double sum = 0.0;
    if (!model.sparseWeights.empty()) {
        sum = sparseDot(model.sparseWeights.data(), doc.list());
    } else {
        const double* weights = model.linWeights.data();
        for (const VectorEntry* w = doc.list(); w->wnum && w->wnum <= model.totWords; ++w)
            sum += weights[w->wnum] * w->weight;
    }
    return sum - model.b;
}

}  // namespace kestrel
