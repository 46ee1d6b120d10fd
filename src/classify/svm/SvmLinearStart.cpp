// A linear training from the starting point dual coordinate descent finds
// (LinearStarts.h): the multipliers are balanced, the examples at a bound
// with a clear margin start inactive, and the decomposition takes it from
// there.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "classify/svm/LinearStarts.h"
#include "classify/svm/SvmTrainer.h"
#include "classify/svm/TrainState.h"

namespace kestrel {

namespace {

// Makes sum_i y_i a_i exactly 0, as the decomposition needs it, by scaling
// down the multipliers of the side with the larger sum: those strictly
// between their bounds when they can take it all (multipliers at a bound
// stay there, where the optimality check counts them as bounded), else all
// of that side's.
void removeImbalance(TrainState& s) {
    double positive = 0.0, negative = 0.0, positiveFree = 0.0, negativeFree = 0.0;
    for (int32_t i = 0; i < s.n; ++i) {
        const double a = s.a[size_t(i)];
        const bool free = a > 0.0 && a < s.lp.svmCost[size_t(i)];
        if (s.y[size_t(i)] > 0) {
            positive += a;
            positiveFree += free ? a : 0.0;
        } else if (s.y[size_t(i)] < 0) {
            negative += a;
            negativeFree += free ? a : 0.0;
        }
    }
    const bool positiveSide = positive > negative;
    const double excess = positiveSide ? positive - negative : negative - positive;
    const double free = positiveSide ? positiveFree : negativeFree;
    const double total = positiveSide ? positive : negative;
    if (excess == 0.0 || total == 0.0) return;
    const bool freeOnly = free > excess;
    const double factor = freeOnly ? (free - excess) / free : (total - excess) / total;
    for (int32_t i = 0; i < s.n; ++i) {
        if ((s.y[size_t(i)] > 0) != positiveSide || !s.y[size_t(i)]) continue;
        double& a = s.a[size_t(i)];
        if (!freeOnly || (a > 0.0 && a < s.lp.svmCost[size_t(i)])) a *= factor;
    }
}

// Most examples end the descent at a bound with a clear margin, and the
// decomposition leaves them there: they start inactive, so that its passes
// over the active examples and their columns cover only the rest. The
// multipliers of this moment are kept as the first shrink step's, so that
// the final check brings the inactive examples' decision values up to date
// and reactivates any the solution has reached after all.
void shrinkAtStart(TrainState& s, double threshold) {
    // Well beyond the descent's gradient tolerance, so that few come back.
    constexpr double kMargin = 0.1;
    const double epsA = s.lp.epsilonA;
    const int32_t step = int32_t(s.history.size());
    bool shrunk = false;
    for (int32_t i = 0; i < s.n; ++i) {
        const int32_t y = s.y[size_t(i)];
        if (!y) continue;
        const double a = s.a[size_t(i)];
        const double dist = (s.lin[size_t(i)] - threshold) * y;
        if ((a <= epsA && dist > 1.0 + kMargin) || (a >= s.lp.svmCost[size_t(i)] - epsA && dist < 1.0 - kMargin)) {
            s.isActive[size_t(i)] = 0;
            s.inactiveSince[size_t(i)] = step;
            shrunk = true;
        }
    }
    if (shrunk) s.history.push_back(s.snapshotActive());
}

}  // namespace

void SvmTrainer::startLinear(TrainState& s, SvmModel& model) {
    // The start computed with the other problems of the training file, or
    // this problem's own descent.
    LinearStart own;
    const LinearStart* start = linearStart_;
    if (!start || start->alpha.size() != size_t(s.n)) {
        std::vector<StartProblem> problem(1);
        problem[0].y.resize(size_t(s.n));
        for (int32_t i = 0; i < s.n; ++i) problem[0].y[size_t(i)] = int8_t(s.y[size_t(i)]);
        problem[0].cost = s.lp.svmCost.data();
        std::vector<LinearStart> starts;
        // Stopped, the start is what the descent reached: the
        // decomposition then ends the training at its first check.
        (void)computeLinearStarts(s.docs, s.weights.size(), problem, s.lp.biasedHyperplane != 0, 1, stop_, starts);
        own = std::move(starts[0]);
        start = &own;
    }
    std::copy(start->alpha.begin(), start->alpha.end(), s.a.begin());
    model.b = start->threshold;
    if (s.lp.biasedHyperplane) removeImbalance(s);

    std::vector<double> w(s.weights.size(), 0.0);
    // The decision values and the model of these multipliers.
    for (int32_t i = 0; i < s.n; ++i) {
        const double factor = s.a[size_t(i)] * s.y[size_t(i)];
        if (factor == 0.0) continue;
        for (const VectorEntry* e = s.docs[size_t(i)].list(); e->wnum; ++e) w[size_t(e->wnum)] += factor * e->weight;
        model.supvec[size_t(model.svNum)] = &s.docs[size_t(i)];
        model.alpha[size_t(model.svNum)] = factor;
        s.svDoc[size_t(model.svNum)] = i;
        model.index[size_t(i)] = model.svNum;
        ++model.svNum;
    }
    const DocumentVector* group[4];
    for (int32_t i = 0; i < s.n; i += 4) {
        const size_t count = size_t(std::min(4, s.n - i));
        for (size_t t = 0; t < count; ++t) group[t] = &s.docs[size_t(i) + t];
        denseDots(w.data(), group, count, s.lin.data() + i);
    }
    if (s.shrunkStart) shrinkAtStart(s, model.b);
}

}  // namespace kestrel
