// Shrinking: examples that have sat at a bound for long leave the active
// set, so that iterations cost less, and come back (with their decision
// values brought up to date) when the optimality check before the end finds
// them wrong.
#include "classify/svm/SvmTrainer.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "classify/svm/KernelCache.h"
#include "classify/svm/TrainState.h"

namespace kestrel {


// Every tenth iteration: examples that have sat at a bound for long leave
// the active set, and the kernel cache drops their columns when it is full.
void SvmTrainer::shrinkStep(TrainState& s, const SvmModel& model) {
    int64_t before = int64_t(s.active.size());
    shrinkProblem(s, std::max<int64_t>(before / 10, 100));
    if (!s.cache) return;
    int64_t after = int64_t(s.active.size());
    int64_t step = std::max<int64_t>(after / 10, 500);
    if (model.svNum > s.cache->capacity() && int64_t(s.cache->activeColumns()) - after > step)
        s.cache->shrink(int32_t(step), s.isActive);
}

void SvmTrainer::checkOptimality(TrainState& s, const SvmModel& model, double& maxdiff, bool& retrain) {
    LearnParams& lp = s.lp;
    if (s.linear) {
        maxdiff = checkLinear(s, model);
    } else {
        lp.epsilonShrink = 0.7 * lp.epsilonShrink + 0.3 * maxdiff;
        const int32_t now = int32_t(std::min<int64_t>(s.iteration, INT32_MAX));
        maxdiff = 0.0;
        for (int32_t j : s.active)
            maxdiff = std::max(maxdiff, s.checkExample(j, model.b, lp.epsilonA, lp.epsilonShrink, now));
    }
    retrain = maxdiff > lp.epsilonCrit;
}

void SvmTrainer::shrinkProblem(TrainState& s, int64_t minimumCount) {
    auto shrinkable = [&](int32_t j) {
        return s.iteration - s.lastSuboptimal[size_t(j)] > s.lp.shrinkHorizon ||
               s.inconsistent[size_t(j)];
    };
    int64_t count = 0;
    for (int32_t j : s.active)
        if (shrinkable(j)) ++count;
    if (count < minimumCount) return;
    const int32_t step = int32_t(s.history.size());
    for (int32_t j : s.active)
        if (shrinkable(j)) {
            s.isActive[size_t(j)] = 0;
            s.inactiveSince[size_t(j)] = step;
        }
    s.history.push_back(s.snapshotActive());
    buildActiveList(s);
}

void SvmTrainer::reactivateInactive(TrainState& s, const SvmModel& model, double& maxdiff) {
    const int32_t steps = int32_t(s.history.size());
    std::vector<int32_t> inactive, changed;  // changed: positions in the snapshot
    for (int32_t t = steps - 1; t >= 0 && s.history[size_t(t)].kept; --t) {
        const MultiplierSnapshot& snapshot = s.history[size_t(t)];
        inactive.clear();
        changed.clear();
        for (int32_t i = 0; i < s.n; ++i)
            if (!s.isActive[size_t(i)] && s.inactiveSince[size_t(i)] == t) inactive.push_back(i);
        for (size_t k = 0; k < snapshot.example.size(); ++k)
            if (s.a[size_t(snapshot.example[k])] != snapshot.value[k]) changed.push_back(int32_t(k));
        if (inactive.empty() || changed.empty()) continue;
        auto change = [&](int32_t k) { return s.a[size_t(snapshot.example[size_t(k)])] - snapshot.value[size_t(k)]; };
        if (s.linear) {
            for (int32_t k : changed) {
                const int32_t i = snapshot.example[size_t(k)];
                s.addToWeights(i, double(s.y[size_t(i)]) * change(k));
            }
            const DocumentVector* group[4];
            double sums[4];
            for (size_t p = 0; p < inactive.size(); p += 4) {
                const size_t count = std::min<size_t>(4, inactive.size() - p);
                for (size_t t = 0; t < count; ++t) group[t] = &s.docs[size_t(inactive[p + t])];
                denseDots(s.weights.data(), group, count, sums);
                for (size_t t = 0; t < count; ++t) s.lin[size_t(inactive[p + t])] += sums[t];
            }
            s.clearWeights();
        } else {
            for (int32_t k : changed) addKernelRowDelta(s, snapshot.example[size_t(k)], change(k), inactive);
        }
    }

    const LearnParams& lp = s.lp;
    const double epsA = lp.epsilonA;
    maxdiff = 0.0;
    for (int32_t i = 0; i < s.n; ++i) {
        s.inactiveSince[size_t(i)] = steps - 1;
        if (s.inconsistent[size_t(i)] || !s.y[size_t(i)]) continue;
        const double a = s.a[size_t(i)];
        const double dist = (s.lin[size_t(i)] - model.b) * s.y[size_t(i)];
        const double upper = lp.svmCost[size_t(i)] - epsA;
        if (a > epsA && dist > 1.0) maxdiff = std::max(maxdiff, dist - 1.0);
        else if (a < upper && dist < 1.0) maxdiff = std::max(maxdiff, 1.0 - dist);
        if ((a > epsA && a < upper) || (a <= epsA && dist < 1.0 + lp.epsilonShrink) ||
            (a >= upper && dist > 1.0 - lp.epsilonShrink))
            s.isActive[size_t(i)] = 1;
    }
    if (steps > 0) {
        s.history[size_t(steps - 1)] = s.snapshotActive();
        for (int32_t t = steps - 2; t >= 0; --t) s.history[size_t(t)] = MultiplierSnapshot();
    }
}

}  // namespace kestrel