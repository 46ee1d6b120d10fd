// SVM training by decomposition: each iteration picks a small working set of
// multipliers, solves its quadratic subproblem, updates the decision values
// of all examples and checks the Karush-Kuhn-Tucker conditions. Examples that
// sat at a bound for long are shrunk away and brought back before the end;
// kernel rows of non-linear kernels are kept in an LRU cache.
#include "classify/svm/SvmTrainer.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "classify/svm/KernelCache.h"
#include "classify/svm/QpSolver.h"
#include "classify/svm/SvmKernel.h"
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

// 1 when 1/r^2 is not a positive finite number (all examples at the
// origin, or a kernel without a distance).
double SvmTrainer::defaultCost(const std::vector<DocumentVector>& docs, const KernelParams& kp) {
    DocumentVector empty;
    empty.words.push_back({0, 0.0});
    double kEmpty = kernelValue(kp, empty, empty);
    // A document's dot product with itself is its squared norm, kept with
    // it; with the empty document it is 0.
    const bool fromDot = isDotProductKernel(kp.kernelType);
    double sum = 0.0;
    for (const DocumentVector& d : docs) {
        const double self = fromDot ? kernelFromDot(kp, d.twoNorm, d, d) : kernelValue(kp, d, d);
        const double origin = fromDot ? kernelFromDot(kp, 0.0, d, empty) : kernelValue(kp, d, empty);
        float arg = float(self - 2.0 * origin + kEmpty);
        sum += double(float(std::sqrt(double(arg))));
    }
    double r = sum / double(docs.size());
    double c = 1.0 / (r * r);
    return std::isfinite(c) && c > 0.0 ? c : 1.0;
}

namespace {

// The linear kernel updates through a weight vector indexed by feature
// number. When the feature numbers are very sparse (a stray huge number),
// they are renumbered densely for the training, which keeps the order of
// every sum and so the results; the original numbers come back when this
// goes out of scope, also when the training fails.
class DenseFeatureNumbers {
public:
    DenseFeatureNumbers(std::vector<DocumentVector>& docs, int32_t totWords) : docs_(docs) {
        size_ = int64_t(totWords) + 1;
        if (!SvmTrainer::renumbersFeatures(docs, totWords)) return;
        original_.push_back(0);
        for (const DocumentVector& d : docs)
            for (const VectorEntry* e = d.list(); e->wnum; ++e) original_.push_back(e->wnum);
        std::sort(original_.begin(), original_.end());
        original_.erase(std::unique(original_.begin(), original_.end()), original_.end());
        for (DocumentVector& d : docs)
            for (VectorEntry& e : d.words)
                if (e.wnum)
                    e.wnum = int32_t(std::lower_bound(original_.begin(), original_.end(), e.wnum) - original_.begin());
        size_ = int64_t(original_.size());
    }
    ~DenseFeatureNumbers() {
        if (original_.empty()) return;
        for (DocumentVector& d : docs_)
            for (VectorEntry& e : d.words)
                if (e.wnum) e.wnum = original_[size_t(e.wnum)];
    }
    DenseFeatureNumbers(const DenseFeatureNumbers&) = delete;
    DenseFeatureNumbers& operator=(const DenseFeatureNumbers&) = delete;

    // Size of a weight vector indexed by the numbers in use.
    int64_t size() const { return size_; }

private:
    std::vector<DocumentVector>& docs_;
    std::vector<int32_t> original_;  // dense number -> original number
    int64_t size_ = 0;
};

// The iteration count, the kernel cache's clock and every example's
// bookkeeping as the decomposition starts, with an empty working set.
void startIterations(TrainState& s) {
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
    s.working.clear();
}

}  // namespace

SvmTrainer::SvmTrainer(QpSolver& solver, std::function<bool()> stop) : solver_(solver), stop_(std::move(stop)) {}

bool SvmTrainer::renumbersFeatures(const std::vector<DocumentVector>& docs, int32_t totWords) {
    int64_t entries = 0;
    for (const DocumentVector& d : docs) entries += int64_t(d.size());
    return int64_t(totWords) + 1 > 2 * entries + 4096;
}

TrainingOutcome SvmTrainer::train(std::vector<DocumentVector>& docs, const std::vector<int32_t>& targets,
                                  int32_t totWords, LearnParams& lp, const KernelParams& kp, KernelCache* cache,
                                  InitialColumns* initialColumns, SvmModel& model) {
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
    TrainingOutcome outcome;
    if (n == 0) return outcome;
    // Written only where it differs: a kept training file's documents have
    // their positions already, and another training may be reading them.
    for (int32_t i = 0; i < n; ++i)
        if (docs[size_t(i)].docnum != i) docs[size_t(i)].docnum = i;
    if (lp.svmC == 0.0) lp.svmC = defaultCost(docs, kp);

    TrainState s(docs, lp, kp);
    s.n = n;
    s.linear = kp.kernelType == KernelType::Linear;
    s.cache = s.linear ? nullptr : cache;
    // A start with most examples inactive lays out columns for the active
    // ones only: the columns of all documents would be the largest block of
    // memory of the whole training.
    s.shrunkStart = s.linear && lp.linearStart;
    if (s.linear && !s.shrunkStart) s.initialColumns = initialColumns;
    initialise(s, targets);

    std::optional<DenseFeatureNumbers> numbers;
    if (s.linear) {
        numbers.emplace(docs, totWords);
        const size_t size = size_t(numbers->size());
        s.weights.assign(size, 0.0);
        s.spread.assign(size, 0.0);
        s.changedFeatures.assign((size + 63) / 64, 0);
        if (lp.linearStart) startLinear(s, model);
    } else {
        int64_t entries = 0;
        for (const DocumentVector& d : docs) entries += int64_t(d.size());
        if (int64_t(totWords) <= 4 * entries + 4096) s.spread.assign(size_t(totWords) + 1, 0.0);
    }

    workLeft_ = workLimit(n);
    cancelled_ = false;
    optimize(s, model);

    outcome.iterations = s.iteration;
    outcome.kernelEvaluations = s.kernelEvaluations + (cache ? cache->evaluations() : 0);
    outcome.cancelled = cancelled_;
    outcome.stoppedEarly = s.stoppedEarly;
    outcome.workLimitReached = workLeft_ <= 0;
    workLeft_ = INT64_MAX;
    return outcome;
}

// The multipliers start at 0, every example active; C_i from the target.
void SvmTrainer::initialise(TrainState& s, const std::vector<int32_t>& targets) {
    const size_t n = size_t(s.n);
    LearnParams& lp = s.lp;
    s.y.assign(n, 0);
    s.a.assign(n, 0.0);
    s.lin.assign(n, 0.0);
    lp.svmCost.assign(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
        int32_t t = targets[i];
        if (t > 0) {
            s.y[i] = 1;
            lp.svmCost[i] = lp.svmC * lp.costRatio * std::abs(t);
        } else if (t < 0) {
            s.y[i] = -1;
            lp.svmCost[i] = lp.svmC * std::abs(t);
        }
    }
    s.aOld.assign(n, 0.0);
    s.inconsistent.assign(n, 0);
    s.chosen.assign(n, 0);
    s.lastSuboptimal.assign(n, 0);
    s.isActive.assign(n, 1);
    s.inactiveSince.assign(n, 0);
    s.row.assign(n, 0.0f);
    s.svDoc.assign(n + 2, -1);
}

void SvmTrainer::buildActiveList(TrainState& s) {
    s.active.clear();
    for (int32_t i = 0; i < s.n; ++i)
        if (s.isActive[size_t(i)]) s.active.push_back(i);
    ++s.activeVersion;
    s.columnsStale = true;
}

// The decomposition loop: working set, subproblem, decision values, model,
// optimality check, tolerance and shrinking, until every active example
// meets the Karush-Kuhn-Tucker conditions within epsilonCrit (and, after
// shrinking, the inactive ones too), the stop check ends it, or a limit is
// reached.
void SvmTrainer::optimize(TrainState& s, SvmModel& model) {
    LearnParams& lp = s.lp;
    s.epsilonCritOrg = lp.epsilonCrit;
    if (s.linear) lp.epsilonCrit = 2.0;
    lp.epsilonShrink = 2.0;
    double maxdiff = 1.0;

    startIterations(s);
    buildActiveList(s);
    bool stalled = false;
    const int64_t limit = iterationLimit(s.n);

    bool retrain = true;
    for (; retrain; ++s.iteration) {
        if (s.cache) s.cache->time = int32_t(std::min<int64_t>(s.iteration, INT32_MAX));
        chooseWorkingSet(s, stalled);
        if (s.cache)
            for (int32_t i : s.working) s.cache->cacheRow(i);

        solveWorkingSet(s, model);
        stalled = true;
        for (int32_t i : s.working)
            if (s.a[size_t(i)] != s.aOld[size_t(i)]) stalled = false;
        updateLinearComponents(s);
        updateModel(s, model);
        for (int32_t i : s.working) s.aOld[size_t(i)] = s.a[size_t(i)];

        checkOptimality(s, model, maxdiff, retrain);

        // Before the end, the tolerance is lowered step by step towards the
        // one asked for, and shrunk examples are checked again.
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
            // After a shrunk start the inactive examples are nearly all
            // documents, and checking them is a pass over all of them: it
            // waits until the tolerance is the one asked for, and comes as
            // soon as it is (also when the tolerance falls to it at once).
            if (shrunk && s.shrunkStart && lp.epsilonCrit > s.epsilonCritOrg) {
                lowerTolerance();
                if (!retrain) lp.epsilonCrit = s.epsilonCritOrg;
            }
            if (retrain) {
                // the active examples go on at the lowered tolerance
            } else if (!shrunk || (lp.skipFinalOptCheck && !s.linear)) {
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

        if (s.iteration % 10 == 0 && !noShrink) shrinkStep(s, model);

        if (retrain && stop_ && stop_()) {
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

// Keeps the examples that have not stayed their time in the working set and
// fills it up to q_max with new ones, at most q_new per iteration.
void SvmTrainer::chooseWorkingSet(TrainState& s, bool stalled) {
    const LearnParams& lp = s.lp;
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
        s.takenFromCache = selectWorkingSet(
            s, std::min<int64_t>({room(), lp.newVarsInQp / 2, std::max<int64_t>(room() / 2, 2)}), true);
        selectWorkingSet(s, std::min<int64_t>(room(), lp.newVarsInQp - s.takenFromCache), false);
    } else {
        // The linear kernel's optimality check has found the candidates
        // already, unless the active set changed since. The share of the
        // cached rows last time still counts against q_new.
        const int64_t budget = std::min<int64_t>(room(), lp.newVarsInQp - s.takenFromCache);
        if (!s.linear || !selectPredicted(s, budget)) selectWorkingSet(s, budget, false);
    }
}

int64_t SvmTrainer::selectWorkingSet(TrainState& s, int64_t budget, bool cachedOnly) {
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

void SvmTrainer::solveWorkingSet(TrainState& s, SvmModel& model) {
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
    const bool dense = !s.spread.empty() && isDotProductKernel(s.kp.kernelType);
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
            for (const VectorEntry* w = s.docs[size_t(ki)].list(); w->wnum; ++w) s.spread[size_t(w->wnum)] = w->weight;
            denseDots(s.spread.data(), s.dotDocs.data() + i, sm - i, dots.data() + i);
            for (const VectorEntry* w = s.docs[size_t(ki)].list(); w->wnum; ++w) s.spread[size_t(w->wnum)] = 0.0;
        }
        for (size_t j = i; j < sm; ++j) {
            int32_t kj = s.working[j];
            double k;
            if (dense) {
                ++s.kernelEvaluations;
                k = kernelFromDot(s.kp, dots[j], s.docs[size_t(ki)], s.docs[size_t(kj)]);
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

    const double* x = solver_.solve(qp, s.epsilonCritOrg, s.lp.maxQpSize, model.b, s.lp, workLeft_);
    for (size_t i = 0; i < sm; ++i) s.a[size_t(s.working[i])] = x[i];
}

void SvmTrainer::addKernelRowDelta(TrainState& s, int32_t i, double delta,
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

void SvmTrainer::updateLinearComponents(TrainState& s) {
    if (s.linear) {
        updateLinearWeights(s);
    } else {
        for (int32_t i : s.working) {
            double delta = s.a[size_t(i)] - s.aOld[size_t(i)];
            if (delta != 0.0) addKernelRowDelta(s, i, delta, s.active);
        }
    }
}

void SvmTrainer::updateModel(TrainState& s, SvmModel& model) {
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

}  // namespace kestrel
