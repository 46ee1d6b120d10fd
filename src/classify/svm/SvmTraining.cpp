// SVM training by decomposition: each iteration picks a small working set of
// multipliers, solves its quadratic subproblem, updates the decision values
// of all examples and checks the Karush-Kuhn-Tucker conditions. Examples that
// sat at a bound for long are shrunk away and brought back before the end;
// kernel rows of non-linear kernels are kept in an LRU cache.
#include <algorithm>
#include <cmath>

#include "classify/svm/CSVM.h"
#include "classify/svm/KernelCache.h"
#include "classify/svm/TrainState.h"

namespace kestrel {

namespace {

// Safety net against a training that never meets its tolerance (the
// algorithm itself has no iteration limit).
int64_t iterationLimit(int32_t n) { return std::max<int64_t>(50000, int64_t(n) * 20); }

// Bound on the whole work of one training: sweeps of the subproblem solver
// and outer iterations together. A training that meets its tolerance uses a
// small fraction of it; one whose subproblems never settle (an extreme
// weight) stops here instead of running for hours.
int64_t workLimit(int32_t n) { return std::max<int64_t>(10000000, int64_t(n) * 1000); }

}  // namespace

void CSVM::train(std::vector<SvmDoc>& docs, std::vector<int32_t>& targets, int32_t totWords,
                 LearnParams& lp, const KernelParams& kp, KernelCache* cache, SvmModel& model) {
    const int32_t n = int32_t(docs.size());
    lp.totWords = totWords;
    if (lp.newVarsInQp < 2 || lp.newVarsInQp > lp.maxQpSize) lp.newVarsInQp = lp.maxQpSize;

    model = SvmModel();
    model.svNum = 1;
    model.b = 0.0;
    model.supvec.assign(size_t(n) + 2, nullptr);
    model.alpha.assign(size_t(n) + 2, 0.0);
    model.index.assign(size_t(n), -1);
    model.kernel = kp;
    model.totWords = totWords;
    model.totDoc = n;
    lastIterations_ = 0;
    lastKernelEvaluations_ = 0;
    if (n == 0) return;
    for (int32_t i = 0; i < n; ++i) docs[size_t(i)].docnum = i;

    if (lp.svmC == 0.0) {
        // C = 1/r^2 with r the mean distance of the examples from the origin
        // in feature space.
        SvmDoc empty;
        empty.words.push_back({0, 0.0});
        double kEmpty = kernel(kp, empty, empty);
        double sum = 0.0;
        for (const SvmDoc& d : docs) {
            float arg = float(kernel(kp, d, d) - 2.0 * kernel(kp, d, empty) + kEmpty);
            sum += double(float(std::sqrt(double(arg))));
        }
        double r = sum / n;
        lp.svmC = 1.0 / (r * r);
        // All examples at the origin (or a kernel without a distance): fall
        // back to 1 rather than an infinite or undefined bound.
        if (!std::isfinite(lp.svmC) || lp.svmC <= 0.0) lp.svmC = 1.0;
    }

    TrainState s(docs, lp, kp);
    s.n = n;
    s.linear = kp.kernelType == kLinear;
    s.cache = s.linear ? nullptr : cache;
    if (s.linear) s.initialColumns = initialColumns_;
    s.y.assign(size_t(n), 0);
    s.a.assign(size_t(n), 0.0);
    s.lin.assign(size_t(n), 0.0);
    lp.svmCost.assign(size_t(n), 0.0);
    for (int32_t i = 0; i < n; ++i) {
        int32_t t = targets[size_t(i)];
        if (t > 0) {
            s.y[size_t(i)] = 1;
            lp.svmCost[size_t(i)] = lp.svmC * lp.costRatio * std::abs(t);
        } else if (t < 0) {
            s.y[size_t(i)] = -1;
            lp.svmCost[size_t(i)] = lp.svmC * std::abs(t);
        }
    }
    s.aOld.assign(size_t(n), 0.0);
    s.inconsistent.assign(size_t(n), 0);
    s.chosen.assign(size_t(n), 0);
    s.lastSuboptimal.assign(size_t(n), 0);
    s.isActive.assign(size_t(n), 1);
    s.inactiveSince.assign(size_t(n), 0);
    s.row.assign(size_t(n), 0.0f);
    s.svDoc.assign(size_t(n) + 2, -1);

    // The linear kernel updates through a weight vector indexed by feature
    // number. When the feature numbers are very sparse (a stray huge number),
    // they are renumbered densely for the training, which keeps the order of
    // every sum and so the results, and restored afterwards.
    std::vector<int32_t> originalFeature;
    if (s.linear) {
        int64_t entries = 0;
        for (const SvmDoc& d : docs) entries += int64_t(d.size());
        int64_t size = int64_t(totWords) + 1;
        if (size > 2 * entries + 4096) {
            originalFeature.push_back(0);
            for (const SvmDoc& d : docs)
                for (const SvmWord* e = d.list(); e->wnum; ++e) originalFeature.push_back(e->wnum);
            std::sort(originalFeature.begin(), originalFeature.end());
            originalFeature.erase(std::unique(originalFeature.begin(), originalFeature.end()),
                                  originalFeature.end());
            for (SvmDoc& d : docs)
                for (SvmWord& e : d.words)
                    if (e.wnum)
                        e.wnum = int32_t(std::lower_bound(originalFeature.begin(),
                                                          originalFeature.end(), e.wnum) -
                                         originalFeature.begin());
            size = int64_t(originalFeature.size());
        }
        s.weights.assign(size_t(size), 0.0);
        s.spread.assign(size_t(size), 0.0);
        s.changedFeatures.assign((size_t(size) + 63) / 64, 0);
    } else {
        int64_t entries = 0;
        for (const SvmDoc& d : docs) entries += int64_t(d.size());
        if (int64_t(totWords) <= 4 * entries + 4096) s.spread.assign(size_t(totWords) + 1, 0.0);
    }

    workLeft_ = workLimit(n);
    optimize(s, model);

    if (!originalFeature.empty())
        for (SvmDoc& d : docs)
            for (SvmWord& e : d.words)
                if (e.wnum) e.wnum = originalFeature[size_t(e.wnum)];

    lastIterations_ = s.iteration;
    lastKernelEvaluations_ = s.kernelEvaluations + (cache ? cache->evaluations() : 0);
    if (s.stoppedEarly)
        lastWarning_ += "training" + (learnedCategory_ > 0 ? " of category " + std::to_string(learnedCategory_) : "") +
                        " stopped after " + std::to_string(s.iteration) + " iterations" +
                        (workLeft_ <= 0 ? " (work limit reached)" : "") +
                        " without reaching the tolerance; the model may classify less well; ";
    workLeft_ = INT64_MAX;
}

void CSVM::buildActiveList(TrainState& s) {
    s.active.clear();
    for (int32_t i = 0; i < s.n; ++i)
        if (s.isActive[size_t(i)]) s.active.push_back(i);
    ++s.activeVersion;
    s.columnsStale = true;
}

void CSVM::optimize(TrainState& s, SvmModel& model) {
    LearnParams& lp = s.lp;
    s.epsilonCritOrg = lp.epsilonCrit;
    if (s.linear) lp.epsilonCrit = 2.0;
    lp.epsilonShrink = 2.0;
    double maxdiff = 1.0;

    s.iteration = 1;
    if (s.cache) {
        s.cache->time = 1;
        s.cache->resetLru();
    }
    for (int32_t i = 0; i < s.n; ++i) {
        s.chosen[size_t(i)] = 0;
        s.aOld[size_t(i)] = s.a[size_t(i)];
        s.lastSuboptimal[size_t(i)] = 1;
    }
    buildActiveList(s);
    s.working.clear();
    int64_t takenFromCache = 0;
    bool stalled = false;
    const int64_t limit = iterationLimit(s.n);

    bool retrain = true;
    for (; retrain; ++s.iteration) {
        if (s.cache) s.cache->time = int32_t(std::min<int64_t>(s.iteration, INT32_MAX));

        // An example stays in the working set for q_max / min(q_max, q_new)
        // iterations.
        const int64_t stay = s.stay();
        s.previousWorking.swap(s.working);
        s.working.clear();
        for (int32_t j : s.previousWorking) {
            if (s.chosen[size_t(j)] >= stay || s.inconsistent[size_t(j)]) {
                s.chosen[size_t(j)] = 0;
            } else {
                ++s.chosen[size_t(j)];
                s.working.push_back(j);
            }
        }

        auto room = [&]() { return int64_t(lp.maxQpSize) - int64_t(s.working.size()); };
        // Rows already cached are preferred, except right after an iteration
        // that moved nothing: then the cached rows may be all the working set
        // can hold, and only fresh examples can make progress.
        if (std::min(lp.newVarsInQp, lp.maxQpSize) >= 4 && !s.linear && s.cache && !stalled) {
            // The cached rows take at most half the room, so that fresh
            // examples still enter when the solver has lowered q_max.
            takenFromCache = selectWorkingSet(
                s, std::min<int64_t>({room(), lp.newVarsInQp / 2, std::max<int64_t>(room() / 2, 2)}), true);
            selectWorkingSet(s, std::min<int64_t>(room(), lp.newVarsInQp - takenFromCache), false);
        } else {
            // The linear kernel's optimality check has found the candidates
            // already, unless the active set changed since.
            const int64_t budget = std::min<int64_t>(room(), lp.newVarsInQp - takenFromCache);
            if (!s.linear || !selectPredicted(s, budget)) selectWorkingSet(s, budget, false);
        }

        if (s.cache)
            for (int32_t i : s.working) s.cache->cacheRow(i);

        solveWorkingSet(s, model);
        stalled = true;
        for (int32_t i : s.working)
            if (s.a[size_t(i)] != s.aOld[size_t(i)]) stalled = false;
        updateLinearComponents(s);
        if (s.linear) {
            // The helper starts on the check while the model is updated.
            beginLinearCheck(s);
            try {
                updateModel(s, model);
            } catch (...) {
                s.check.thresholdKnown = true;
                try {
                    s.runner.finish();
                } catch (...) {
                }
                throw;
            }
        } else {
            updateModel(s, model);
        }
        for (int32_t i : s.working) s.aOld[size_t(i)] = s.a[size_t(i)];

        checkOptimality(s, model, maxdiff, retrain);

        bool noShrink = false;
        auto lowerTolerance = [&]() {
            if (maxdiff < lp.epsilonCrit) lp.epsilonCrit = maxdiff;
            if (lp.epsilonCrit > s.epsilonCritOrg) {
                lp.epsilonCrit /= 2.0;
                retrain = true;
                noShrink = true;
            }
        };
        if (!retrain) {
            bool shrunk = s.active.size() < size_t(s.n);
            if (!shrunk || (lp.skipFinalOptCheck && !s.linear)) {
                lowerTolerance();
            } else {
                reactivateInactive(s, model, maxdiff);
                buildActiveList(s);
                noShrink = true;
                if (maxdiff > lp.epsilonCrit) retrain = true;
                else lowerTolerance();
            }
        }
        if (lp.epsilonCrit < s.epsilonCritOrg) lp.epsilonCrit = s.epsilonCritOrg;

        if (s.iteration % 10 == 0 && !noShrink) {
            int64_t before = int64_t(s.active.size());
            shrinkProblem(s, std::max<int64_t>(before / 10, 100));
            if (s.cache) {
                int64_t after = int64_t(s.active.size());
                int64_t step = std::max<int64_t>(after / 10, 500);
                if (model.svNum > s.cache->capacity() &&
                    int64_t(s.cache->activeColumns()) - after > step)
                    s.cache->shrink(int32_t(step), s.isActive);
            }
        }

        if (retrain && stopCheck_ && stopCheck_()) {
            cancelled_ = true;
            break;
        }
        --workLeft_;
        if (retrain && (s.iteration >= limit || workLeft_ <= 0)) {
            s.stoppedEarly = true;
            break;
        }
    }
    lp.epsilonCrit = s.epsilonCritOrg;
}

int64_t CSVM::selectWorkingSet(TrainState& s, int64_t budget, bool cachedOnly) {
    if (budget <= 0) return 0;
    const int64_t half = budget / 2;
    const double epsA = s.lp.epsilonA;
    const double* cost = s.lp.svmCost.data();
    const double* alpha = s.a.data();
    const double* lin = s.lin.data();
    const int32_t* target = s.y.data();
    const int32_t* chosen = s.chosen.data();
    const int32_t* inconsistent = s.inconsistent.data();

    // Takes the `count` eligible active examples with the largest criterion
    // (equal criteria in the order of the active list). `down` chooses the
    // criterion lin - y over examples that can move down, else y - lin over
    // those that can move up.
    auto take = [&](int64_t count, bool down) {
        if (count <= 0) return int64_t(0);
        TopList& top = s.top;
        top.reset(count);
        for (int32_t j : s.active) {
            const int32_t y = target[j];
            if (!y || chosen[j] || inconsistent[j]) continue;
            if (cachedOnly && !(s.cache && s.cache->isCached(j))) continue;
            const double a = alpha[j];
            const bool atLow = a <= epsA, atHigh = a >= cost[j] - epsA;
            if (down ? ((atLow && y > 0) || (atHigh && y < 0)) : ((atLow && y < 0) || (atHigh && y > 0)))
                continue;
            top.offer(down ? lin[j] - double(y) : double(y) - lin[j], j);
        }
        for (int64_t k = 0; k < top.size; ++k) {
            const int32_t i = top.key[size_t(k)];
            s.chosen[size_t(i)] = 1;
            s.working.push_back(i);
            if (s.cache) s.cache->touch(i);
        }
        return top.size;
    };

    // Examples that could move down (lin - y largest) ...
    const int64_t first = take(half, true);
    // ... and examples that could move up (y - lin largest).
    const int64_t second = take(std::min(half, budget - first), false);
    return first + second;
}

void CSVM::solveWorkingSet(TrainState& s, SvmModel& model) {
    const int32_t m = int32_t(s.working.size());
    if (m == 0) return;
    QpSubproblem& qp = s.qp;
    qp.resize(m);
    qp.m = s.lp.biasedHyperplane ? 1 : 0;
    qp.ce0 = 0.0;
    const int32_t* svDoc = s.svDoc.data();
    for (int32_t j = 1; j < model.svNum; ++j)
        if (!s.chosen[size_t(svDoc[j])]) qp.ce0 += model.alpha[size_t(j)];

    const size_t sm = size_t(m);
    for (size_t i = 0; i < sm; ++i) {
        int32_t ki = s.working[i];
        qp.g0[i] = s.lin[size_t(ki)];
        qp.ce[i] = s.y[size_t(ki)];
        qp.low[i] = 0.0;
        qp.up[i] = s.lp.svmCost[size_t(ki)];
        qp.xinit[i] = s.a[size_t(ki)];
    }
    const bool dense = !s.spread.empty() && s.kp.kernelType >= kLinear && s.kp.kernelType <= kSigmoid;
    std::vector<double>& dots = s.dots;
    if (dense) {
        dots.resize(sm);
        s.dotDocs.resize(sm);
        for (size_t j = 0; j < sm; ++j) s.dotDocs[j] = &s.docs[size_t(s.working[j])];
    }
    for (size_t i = 0; i < sm; ++i) {
        int32_t ki = s.working[i];
        // Kernel values of row i from x_i spread densely: the same products
        // summed in the same order as the sparse merge.
        if (dense) {
            for (const SvmWord* w = s.docs[size_t(ki)].list(); w->wnum; ++w) s.spread[size_t(w->wnum)] = w->weight;
            denseDots(s.spread.data(), s.dotDocs.data() + i, sm - i, dots.data() + i);
            for (const SvmWord* w = s.docs[size_t(ki)].list(); w->wnum; ++w) s.spread[size_t(w->wnum)] = 0.0;
        }
        for (size_t j = i; j < sm; ++j) {
            int32_t kj = s.working[j];
            double k;
            if (dense) {
                ++s.kernelEvaluations;
                k = CSVM::kernelFromDot(s.kp, dots[j], s.docs[size_t(ki)], s.docs[size_t(kj)]);
            } else {
                k = s.kernel(ki, kj);
            }
            if (i == j) {
                qp.g[i * sm + i] = k;
                qp.g0[i] -= k * s.a[size_t(ki)] * s.y[size_t(ki)];
            } else {
                double v = double(s.y[size_t(ki)]) * double(s.y[size_t(kj)]) * k;
                qp.g[i * sm + j] = qp.g[j * sm + i] = v;
                qp.g0[i] -= k * s.a[size_t(kj)] * s.y[size_t(kj)];
                qp.g0[j] -= k * s.a[size_t(ki)] * s.y[size_t(ki)];
            }
        }
    }
    for (size_t i = 0; i < sm; ++i) qp.g0[i] = double(s.y[size_t(s.working[i])]) * qp.g0[i] - 1.0;

    const double* x = solveSubproblem(qp, s.epsilonCritOrg, s.lp.maxQpSize, model.b, s.lp);
    for (size_t i = 0; i < sm; ++i) s.a[size_t(s.working[i])] = x[i];
}

void CSVM::addKernelRowDelta(TrainState& s, int32_t i, double delta,
                             const std::vector<int32_t>& targets) {
    // lin_j += y_i K(x_i, x_j) (a_i - a_i_old) for every target j.
    float* row = s.row.data();
    if (s.cache) {
        s.cache->getRow(i, targets, row);
    } else {
        for (int32_t j : targets) row[j] = float(s.kernel(i, j));
    }
    const double factor = double(s.y[size_t(i)]) * delta;
    for (int32_t j : targets) s.lin[size_t(j)] += double(row[j]) * factor;
}

void CSVM::updateLinearComponents(TrainState& s) {
    if (s.linear) {
        updateLinearWeights(s);
    } else {
        for (int32_t i : s.working) {
            double delta = s.a[size_t(i)] - s.aOld[size_t(i)];
            if (delta != 0.0) addKernelRowDelta(s, i, delta, s.active);
        }
    }
}

void CSVM::updateModel(TrainState& s, SvmModel& model) {
    for (int32_t i : s.working) {
        const double a = s.a[size_t(i)];
        const double aOld = s.aOld[size_t(i)];
        if (aOld > 0.0 && a == 0.0) {
            // No longer a support vector: the last one takes its slot.
            int32_t pos = model.index[size_t(i)];
            --model.svNum;
            model.supvec[size_t(pos)] = model.supvec[size_t(model.svNum)];
            model.alpha[size_t(pos)] = model.alpha[size_t(model.svNum)];
            s.svDoc[size_t(pos)] = s.svDoc[size_t(model.svNum)];
            model.index[size_t(s.svDoc[size_t(pos)])] = pos;
            model.index[size_t(i)] = -1;
        } else if (aOld == 0.0 && a > 0.0) {
            model.supvec[size_t(model.svNum)] = &s.docs[size_t(i)];
            model.alpha[size_t(model.svNum)] = a * s.y[size_t(i)];
            s.svDoc[size_t(model.svNum)] = i;
            model.index[size_t(i)] = model.svNum;
            ++model.svNum;
        } else if (a != aOld) {
            model.alpha[size_t(model.index[size_t(i)])] = a * s.y[size_t(i)];
        }
    }
    if (s.lp.biasedHyperplane) {
        const double epsA = s.lp.epsilonA;
        for (int32_t i : s.working) {
            double a = s.a[size_t(i)];
            if (a > epsA && a < s.lp.svmCost[size_t(i)] - epsA) {
                model.b = s.lin[size_t(i)] - s.y[size_t(i)];
                break;
            }
        }
    } else {
        model.b = 0.0;
    }
}

void CSVM::checkOptimality(TrainState& s, const SvmModel& model, double& maxdiff, bool& retrain) {
    LearnParams& lp = s.lp;
    if (s.linear) {
        // Begun by beginLinearCheck, which set the shrinking tolerance.
        maxdiff = finishLinearCheck(s, model);
    } else {
        lp.epsilonShrink = 0.7 * lp.epsilonShrink + 0.3 * maxdiff;
        const int32_t now = int32_t(std::min<int64_t>(s.iteration, INT32_MAX));
        maxdiff = 0.0;
        for (int32_t j : s.active)
            maxdiff = std::max(maxdiff, s.checkExample(j, model.b, lp.epsilonA, lp.epsilonShrink, now));
    }
    retrain = maxdiff > lp.epsilonCrit;
}

void CSVM::shrinkProblem(TrainState& s, int64_t minimumCount) {
    auto shrinkable = [&](int32_t j) {
        return s.iteration - s.lastSuboptimal[size_t(j)] > s.lp.shrinkHorizon ||
               s.inconsistent[size_t(j)];
    };
    int64_t count = 0;
    for (int32_t j : s.active)
        if (shrinkable(j)) ++count;
    if (count < minimumCount) return;
    const int32_t step = int32_t(s.history.size());
    s.history.push_back(s.a);
    for (int32_t j : s.active)
        if (shrinkable(j)) {
            s.isActive[size_t(j)] = 0;
            s.inactiveSince[size_t(j)] = step;
        }
    buildActiveList(s);
}

void CSVM::reactivateInactive(TrainState& s, const SvmModel& model, double& maxdiff) {
    const int32_t steps = int32_t(s.history.size());
    std::vector<int32_t> inactive, changed;
    for (int32_t t = steps - 1; t >= 0 && !s.history[size_t(t)].empty(); --t) {
        const std::vector<double>& snapshot = s.history[size_t(t)];
        inactive.clear();
        changed.clear();
        for (int32_t i = 0; i < s.n; ++i) {
            if (!s.isActive[size_t(i)] && s.inactiveSince[size_t(i)] == t) inactive.push_back(i);
            if (s.a[size_t(i)] != snapshot[size_t(i)]) changed.push_back(i);
        }
        if (inactive.empty() || changed.empty()) continue;
        if (s.linear) {
            for (int32_t i : changed)
                s.addToWeights(i, double(s.y[size_t(i)]) * (s.a[size_t(i)] - snapshot[size_t(i)]));
            // Two halves of the examples, one per thread when there are many.
            const size_t middle = inactive.size() / 2;
            s.runner.run(2, [&](int half, int) {
                const size_t from = half ? middle : 0, to = half ? inactive.size() : middle;
                const SvmDoc* group[4];
                double sums[4];
                for (size_t p = from; p < to; p += 4) {
                    const size_t count = std::min<size_t>(4, to - p);
                    for (size_t t = 0; t < count; ++t) group[t] = &s.docs[size_t(inactive[p + t])];
                    denseDots(s.weights.data(), group, count, sums);
                    for (size_t t = 0; t < count; ++t) s.lin[size_t(inactive[p + t])] += sums[t];
                }
            }, inactive.size() >= 512);
            s.clearWeights();
        } else {
            for (int32_t i : changed)
                addKernelRowDelta(s, i, s.a[size_t(i)] - snapshot[size_t(i)], inactive);
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
        s.history[size_t(steps - 1)] = s.a;
        for (int32_t t = steps - 2; t >= 0; --t) std::vector<double>().swap(s.history[size_t(t)]);
    }
}

}  // namespace kestrel
