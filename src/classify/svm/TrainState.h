#pragma once
// Everything one SVM training works on (internal to the training code).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "classify/svm/KernelCache.h"
#include "classify/svm/SvmKernel.h"
#include "classify/svm/SvmTypes.h"

namespace kestrel {

// The `capacity` largest values offered, in descending order; equal values
// keep the order in which they were offered (a later value enters only if
// strictly greater than the smallest kept one, and moves in front of
// strictly smaller ones only). This is how working sets are selected.
struct TopList {
    std::vector<double> value;
    std::vector<int32_t> key;
    int64_t size = 0;
    int64_t capacity = 0;

    void reset(int64_t newCapacity) {
        capacity = newCapacity;
        size = 0;
        if (value.size() < size_t(capacity)) {
            value.resize(size_t(capacity));
            key.resize(size_t(capacity));
        }
    }
    void offer(double v, int32_t k) { insert(value.data(), key.data(), size, capacity, v, k); }

    // offer on bare arrays holding `size` of at most `capacity` entries.
    static void insert(double* values, int32_t* keys, int64_t& size, int64_t capacity, double v, int32_t k) {
        int64_t p;
        if (size < capacity) p = size++;
        else if (capacity > 0 && v > values[capacity - 1]) p = capacity - 1;
        else return;
        for (; p >= 1 && v > values[p - 1]; --p) {
            values[p] = values[p - 1];
            keys[p] = keys[p - 1];
        }
        values[p] = v;
        keys[p] = k;
    }
};

// The entries of a set of examples by feature: feature f's entries are
// [start[f], start[f + 1]), each an example (its position in the set) and
// its weight, examples ascending.
struct LinearColumns {
    std::vector<int64_t> start;
    std::vector<int32_t> doc;
    std::vector<double> weight;
};

// The columns of all training documents, as every decomposition from 0 with
// the linear kernel starts with them: they are kept with the training file,
// so that the trainings of the other categories start from them. Two trainings at
// once may share them; `lock` guards the fields.
struct InitialColumns {
    std::mutex lock;
    size_t documents = 0, features = 0;  // 0 documents: not filled yet
    std::shared_ptr<const LinearColumns> columns;
};

// out[j] = sum over the entries e of docs[j] of dense[e.wnum] * e.weight,
// each sum taken in entry order from 0, for `count` documents. Four
// documents are summed side by side: four independent chains of additions,
// which the processor overlaps, while every sum keeps its own order (so
// each is the same double as alone).
inline void denseDots(const double* __restrict dense, const DocumentVector* const* docs, size_t count, double* out) {
    size_t j = 0;
    for (; j + 4 <= count; j += 4) {
        const VectorEntry *a = docs[j]->list(), *b = docs[j + 1]->list(), *c = docs[j + 2]->list(),
                      *d = docs[j + 3]->list();
        const size_t common =
            std::min(std::min(docs[j]->size(), docs[j + 1]->size()), std::min(docs[j + 2]->size(), docs[j + 3]->size()));
        double sa = 0.0, sb = 0.0, sc = 0.0, sd = 0.0;
        for (size_t k = 0; k < common; ++k) {
            sa += dense[a[k].wnum] * a[k].weight;
            sb += dense[b[k].wnum] * b[k].weight;
            sc += dense[c[k].wnum] * c[k].weight;
            sd += dense[d[k].wnum] * d[k].weight;
        }
        double sums[4] = {sa, sb, sc, sd};
        for (size_t t = 0; t < 4; ++t)
            for (const VectorEntry* e = docs[j + t]->list() + common; e->wnum; ++e) sums[t] += dense[e->wnum] * e->weight;
        for (size_t t = 0; t < 4; ++t) out[j + t] = sums[t];
    }
    for (; j < count; ++j) {
        double sum = 0.0;
        for (const VectorEntry* e = docs[j]->list(); e->wnum; ++e) sum += dense[e->wnum] * e->weight;
        out[j] = sum;
    }
}

// The multipliers at one shrink step: those of the examples still active
// after it, in ascending order. An inactive example's multiplier cannot
// change until the inactive examples are checked again, so the others need
// no copy. Not `kept` once a later check has made it unnecessary.
struct MultiplierSnapshot {
    bool kept = false;
    std::vector<int32_t> example;
    std::vector<double> value;
};

struct TrainState {
    TrainState(std::vector<DocumentVector>& d, LearnParams& l, const KernelParams& k)
        : docs(d), lp(l), kp(k) {}

    std::vector<DocumentVector>& docs;
    LearnParams& lp;
    const KernelParams& kp;
    KernelCache* cache = nullptr;
    int32_t n = 0;
    bool linear = false;
    // Started from coordinate descent, with most examples inactive (see
    // SvmTrainer::startLinear).
    bool shrunkStart = false;

    std::vector<int32_t> y;               // +1 / -1 (0: unlabeled, never selected)
    std::vector<double> a, aOld;
    std::vector<double> lin;
    std::vector<int32_t> inconsistent;    // always 0 here
    std::vector<int32_t> chosen;
    std::vector<int32_t> lastSuboptimal;
    std::vector<int32_t> svDoc;           // model slot -> example (as model.supvec)
    TopList top;                          // working-set selection
    int64_t takenFromCache = 0;           // cached rows taken at the last selection that preferred them
    std::vector<int32_t> working;         // the working set
    std::vector<int32_t> active;          // active examples in index order
    uint64_t activeVersion = 0;           // changes whenever the active list is rebuilt
    std::vector<int32_t> isActive, inactiveSince;
    std::vector<MultiplierSnapshot> history;  // one per shrink step
    std::vector<float> row;               // one kernel row
    std::vector<double> weights;          // linear kernel: dense weight vector (change)
    std::vector<int32_t> touched;         // its non-zero entries
    std::vector<int32_t> previousWorking; // the working set of the last iteration
    std::vector<double> spread;           // one example spread densely (empty: merge instead)
    std::vector<double> dots;             // one row of working-set dot products
    std::vector<const DocumentVector*> dotDocs;   // the working set's documents
    QpSubproblem qp;

    // ---- Linear kernel ----
    // The active examples' entries by feature (compressed columns), so that
    // a change of the weight vector reaches exactly the entries it changes.
    // Rebuilt when the active set changes.
    std::vector<int32_t> columnExamples;           // the active examples, ascending
    std::shared_ptr<const LinearColumns> columns;  // null: not filled yet
    std::shared_ptr<LinearColumns> spareColumns;   // earlier columns to fill again
    std::vector<int32_t> renumber;                 // old column position -> new one, when the set shrinks
    std::vector<double> delta;  // per column example: the change of its decision value
    InitialColumns* initialColumns = nullptr;      // kept with the training file, or none
    bool columnsStale = true;
    // The weight change of this iteration: the features it touches (one bit
    // each) and whether there is one.
    std::vector<uint64_t> changedFeatures;
    bool weightsChanged = false;

    // The next iteration's working-set candidates, found while the
    // optimality check passes every active example: valid while the active
    // list, the working-set limits and the multipliers stay as they were.
    struct NextSelection {
        bool valid = false;
        uint64_t activeVersion = 0;
        int32_t maxQpSize = 0, stay = 0;
        TopList down, up;
    } next;

    int64_t iteration = 0;
    double epsilonCritOrg = 0.0;
    int64_t kernelEvaluations = 0;
    bool stoppedEarly = false;

    double kernel(int32_t i, int32_t j) {
        ++kernelEvaluations;
        return kernelValue(kp, docs[size_t(i)], docs[size_t(j)]);
    }
    void addToWeights(int32_t i, double factor) {
        for (const VectorEntry* e = docs[size_t(i)].list(); e->wnum; ++e) {
            double& w = weights[size_t(e->wnum)];
            if (w == 0.0) touched.push_back(e->wnum);
            w += factor * e->weight;
        }
    }
    // The multipliers of the examples active now.
    MultiplierSnapshot snapshotActive() const {
        MultiplierSnapshot snapshot;
        snapshot.kept = true;
        for (int32_t i = 0; i < n; ++i)
            if (isActive[size_t(i)]) {
                snapshot.example.push_back(i);
                snapshot.value.push_back(a[size_t(i)]);
            }
        return snapshot;
    }
    void clearWeights() {
        for (int32_t f : touched) weights[size_t(f)] = 0.0;
        touched.clear();
    }
    // The optimality check of active example j: returns its violation of
    // the Karush-Kuhn-Tucker conditions (0 when there is none) and records
    // the iteration as its last suboptimal one unless it sits clearly at a
    // bound.
    double checkExample(int32_t j, double b, double epsA, double epsShrink, int32_t now) {
        if (inconsistent[size_t(j)] || !y[size_t(j)]) return 0.0;
        const double alpha = a[size_t(j)];
        const double dist = (lin[size_t(j)] - b) * y[size_t(j)];
        const double upper = lp.svmCost[size_t(j)] - epsA;
        double violation = 0.0;
        if (alpha > epsA && dist > 1.0) violation = dist - 1.0;
        else if (alpha < upper && dist < 1.0) violation = 1.0 - dist;
        if ((alpha > epsA && alpha < upper) || (alpha <= epsA && dist < 1.0 + epsShrink) ||
            (alpha >= upper && dist > 1.0 - epsShrink))
            lastSuboptimal[size_t(j)] = now;
        return violation;
    }
    // How long an example stays in the working set.
    int64_t stay() const { return lp.maxQpSize / std::max(1, std::min(lp.maxQpSize, lp.newVarsInQp)); }
};

}  // namespace kestrel
