// The steps of a training with the linear kernel that touch every active
// example: bringing the decision values up to date after the multipliers of
// the working set changed, the optimality check, and finding the candidates
// of the next working set, all in one pass per iteration.
//
// The results are the same doubles as those of a plain pass over the
// examples: an example's decision value changes by the dot product of the
// weight change with the example, whose products are summed in ascending
// feature order; here each example's products are added up in the same
// order (features ascending), only the products of features whose weight
// did not change are left out, and those are exact zeros.
//
// The pass runs on one thread: its steps take tens of microseconds, too
// short for handing work to another thread to pay; a second core serves
// better by training another category (see CsvmEngine::learnAll).
#include <algorithm>
#include <limits>
#include <mutex>

#include "classify/svm/SvmTrainer.h"
#include "classify/svm/TrainState.h"

namespace kestrel {

namespace {

// delta[doc[p]] += w[f] * weight[p] for every entry p of every column f
// whose bit is set, columns in ascending order. The examples of a column are
// distinct, so the additions within a column are independent of one
// another.
__attribute__((noinline)) void addColumns(double* __restrict delta, const int64_t* __restrict start,
                                          const int32_t* __restrict doc, const double* __restrict weight,
                                          const double* __restrict w, const uint64_t* __restrict bits,
                                          size_t words) {
    for (size_t word = 0; word < words; ++word)
        for (uint64_t set = bits[word]; set; set &= set - 1) {
            const size_t f = (word << 6) | size_t(__builtin_ctzll(set));
            const double dw = w[f];
            int64_t p = start[f];
            const int64_t end = start[f + 1];
            for (; p + 4 <= end; p += 4) {
                const int32_t d0 = doc[p], d1 = doc[p + 1], d2 = doc[p + 2], d3 = doc[p + 3];
                const double v0 = delta[d0] + dw * weight[p];
                const double v1 = delta[d1] + dw * weight[p + 1];
                const double v2 = delta[d2] + dw * weight[p + 2];
                const double v3 = delta[d3] + dw * weight[p + 3];
                delta[d0] = v0;
                delta[d1] = v1;
                delta[d2] = v2;
                delta[d3] = v3;
            }
            for (; p < end; ++p) delta[doc[p]] += dw * weight[p];
        }
}

template <typename Fn>
void forEachBit(const uint64_t* bits, size_t words, Fn&& fn) {
    for (size_t word = 0; word < words; ++word)
        for (uint64_t set = bits[word]; set; set &= set - 1) fn((word << 6) | size_t(__builtin_ctzll(set)));
}

// Lays out the entries of `examples` by feature with a counting sort, so
// each column lists its examples (their positions in `examples`) in
// ascending order.
void sortColumns(const TrainState& s, const std::vector<int32_t>& examples, size_t features, LinearColumns& out) {
    std::vector<int64_t>& next = out.start;
    next.assign(features + 1, 0);
    for (int32_t j : examples)
        for (const VectorEntry* e = s.docs[size_t(j)].list(); e->wnum; ++e) ++next[size_t(e->wnum) + 1];
    for (size_t f = 0; f < features; ++f) next[f + 1] += next[f];
    const size_t entries = size_t(next[features]);
    out.doc.resize(entries);
    out.weight.resize(entries);
    for (size_t p = 0; p < examples.size(); ++p)
        for (const VectorEntry* e = s.docs[size_t(examples[p])].list(); e->wnum; ++e) {
            const size_t at = size_t(next[size_t(e->wnum)]++);
            out.doc[at] = int32_t(p);
            out.weight[at] = e->weight;
        }
    // The fill moved every start one column on; move them back.
    for (size_t f = features; f > 0; --f) next[f] = next[f - 1];
    next[0] = 0;
}

// Copies the entries of `from` whose example has a new position (position
// >= 0 in `renumber`) to `to` under that position. The kept entries keep
// their order, so each column stays ascending when the new positions are
// ascending in the old ones. `to` may be `from`: no entry is written before
// it has been read.
void compactColumns(const LinearColumns& from, const std::vector<int32_t>& renumber, size_t features,
                    LinearColumns& to) {
    if (&to != &from) {
        to.start.resize(features + 1);
        to.doc.resize(from.doc.size());
        to.weight.resize(from.weight.size());
    }
    const int32_t* position = renumber.data();
    const int64_t* fromStart = from.start.data();
    const int32_t* fromDoc = from.doc.data();
    const double* fromWeight = from.weight.data();
    int64_t* toStart = to.start.data();
    int32_t* toDoc = to.doc.data();
    double* toWeight = to.weight.data();
    int64_t kept = 0, begin = fromStart[0];
    for (size_t f = 0; f < features; ++f) {
        const int64_t end = fromStart[f + 1];
        toStart[f] = kept;
        for (int64_t p = begin; p < end; ++p) {
            // Written unconditionally, kept only for an example that stays.
            const int32_t at = position[fromDoc[p]];
            const double weight = fromWeight[p];
            toDoc[kept] = at;
            toWeight[kept] = weight;
            kept += at >= 0;
        }
        begin = end;
    }
    to.start[features] = kept;
    to.doc.resize(size_t(kept));
    to.weight.resize(size_t(kept));
}

// The new position of every example of `from` that is also in `to` (-1 for
// the others), both ascending; false when `to` holds an example `from`
// lacks.
bool renumbering(const std::vector<int32_t>& from, const std::vector<int32_t>& to, std::vector<int32_t>& out) {
    out.assign(from.size(), -1);
    size_t p = 0;
    for (size_t q = 0; q < to.size(); ++q) {
        while (p < from.size() && from[p] < to[q]) ++p;
        if (p == from.size() || from[p] != to[q]) return false;
        out[p++] = int32_t(q);
    }
    return true;
}

// Lays out the active examples' entries by feature, each column listing its
// examples in ascending order. Every training of the same documents starts
// with all of them active, and then with the columns kept with the training
// file when there are any. A smaller active set takes its columns from the
// ones at hand (the previous active set's, or all documents') by dropping
// the entries of the examples that left, which is much cheaper than laying
// them out again.
// The columns of all documents kept with the training file, when they are
// filled for these documents and features (null otherwise).
std::shared_ptr<const LinearColumns> keptColumns(const TrainState& s, size_t features) {
    if (!s.initialColumns) return nullptr;
    std::lock_guard<std::mutex> lock(s.initialColumns->lock);
    const InitialColumns& kept = *s.initialColumns;
    return kept.documents == size_t(s.n) && kept.features == features ? kept.columns : nullptr;
}

void buildColumns(TrainState& s) {
    std::vector<int32_t> previous = std::move(s.columnExamples);
    s.columnExamples = s.active;
    s.delta.assign(s.columnExamples.size(), 0.0);
    s.columnsStale = false;
    const size_t features = s.weights.size();
    const std::shared_ptr<const LinearColumns> kept = keptColumns(s, features);
    if (kept && s.active.size() == size_t(s.n)) {
        s.columns = kept;
        return;
    }
    // The source of a compaction: the current columns when the active set
    // only shrank, else the columns of all documents when they are kept.
    std::shared_ptr<const LinearColumns> source;
    std::vector<int32_t>& renumber = s.renumber;
    if (s.columns && renumbering(previous, s.columnExamples, renumber)) {
        source = s.columns;
    } else if (kept) {
        std::vector<int32_t> all(size_t(s.n));
        for (int32_t i = 0; i < s.n; ++i) all[size_t(i)] = i;
        renumbering(all, s.columnExamples, renumber);
        source = kept;
    }
    // Columns no one else holds are filled again in place (big arrays that
    // are freed and allocated anew cost page faults every time).
    if (s.columns && s.columns.use_count() == 1 + (source == s.columns))
        s.spareColumns = std::const_pointer_cast<LinearColumns>(s.columns);
    s.columns.reset();
    std::shared_ptr<LinearColumns> columns =
        s.spareColumns ? std::move(s.spareColumns) : std::make_shared<LinearColumns>();
    if (source) compactColumns(*source, renumber, features, *columns);
    else sortColumns(s, s.columnExamples, features, *columns);
    s.columns = std::move(columns);
    if (s.initialColumns && s.active.size() == size_t(s.n)) {
        std::lock_guard<std::mutex> lock(s.initialColumns->lock);
        if (s.initialColumns->documents == 0) {
            s.initialColumns->documents = size_t(s.n);
            s.initialColumns->features = features;
            s.initialColumns->columns = s.columns;
        }
    }
}

}  // namespace

void SvmTrainer::updateLinearWeights(TrainState& s) {
    // The weight change dw = sum of y_i (a_i - a_old_i) x_i over the working
    // set, accumulated in working-set order.
    bool changed = false;
    double* w = s.weights.data();
    uint64_t* bits = s.changedFeatures.data();
    for (int32_t i : s.working) {
        const double change = s.a[size_t(i)] - s.aOld[size_t(i)];
        if (change == 0.0) continue;
        const double factor = double(s.y[size_t(i)]) * change;
        changed = true;
        for (const VectorEntry* e = s.docs[size_t(i)].list(); e->wnum; ++e) {
            w[e->wnum] += factor * e->weight;
            bits[size_t(e->wnum) >> 6] |= uint64_t(1) << (e->wnum & 63);
        }
    }
    s.weightsChanged = changed;
    if (!changed) return;
    // The working set's decision values are needed first (the threshold is
    // taken from them); every other active example gets its change in the
    // optimality check.
    const size_t count = s.working.size();
    s.dotDocs.resize(count);
    s.dots.resize(count);
    for (size_t k = 0; k < count; ++k) s.dotDocs[k] = &s.docs[size_t(s.working[k])];
    denseDots(s.weights.data(), s.dotDocs.data(), count, s.dots.data());
    for (size_t k = 0; k < count; ++k) s.lin[size_t(s.working[k])] += s.dots[k];
}

namespace {

// Settings of one pass of the check.
struct CheckPass {
    double threshold = 0.0, epsA = 0.0, epsShrink = 0.0;
    int32_t now = 0;
    int64_t half = 0, stay = 0;
};

// Offers example j as a candidate of the next selection by both criteria
// (lin - y for examples that can move down, y - lin for those that can move
// up), as TopList::offer on the lists' arrays.
inline void offerCandidate(TopList& down, int64_t& downSize, TopList& up, int64_t& upSize, int32_t j, int32_t y,
                           double value, bool atLow, bool atHigh) {
    const bool positive = y > 0;
    const bool canDown = positive ? !atLow : !atHigh;
    const bool canUp = positive ? !atHigh : !atLow;
    const double downValue = value - double(y), upValue = double(y) - value;
    if (canDown && down.capacity && (downSize < down.capacity || downValue > down.value[size_t(down.capacity - 1)]))
        TopList::insert(down.value.data(), down.key.data(), downSize, down.capacity, downValue, j);
    if (canUp && up.capacity && (upSize < up.capacity || upValue > up.value[size_t(up.capacity - 1)]))
        TopList::insert(up.value.data(), up.key.data(), upSize, up.capacity, upValue, j);
}

// One pass over the active examples: adds each one's pending change to its
// decision value, checks it (as TrainState::checkExample, written without
// branches on the data), and collects the next selection's candidates,
// leaving out the examples that stay in the working set. Returns the
// largest violation; `unordered` tells whether a decision value was not a
// number.
double checkActive(TrainState& s, const CheckPass& c, bool& unordered) {
    TrainState::NextSelection& next = s.next;
    next.down.reset(c.half);
    next.up.reset(2 * c.half);
    int64_t downSize = 0, upSize = 0;
    double largest = 0.0;
    unordered = false;
    const bool changed = s.weightsChanged;
    const int32_t* chosenOf = s.chosen.data();
    const int32_t* target = s.y.data();
    const int32_t* inconsistent = s.inconsistent.data();
    const double* alpha = s.a.data();
    const double* cost = s.lp.svmCost.data();
    double* lin = s.lin.data();
    int32_t* lastSuboptimal = s.lastSuboptimal.data();
    double* const delta = s.delta.data();
    const int32_t* examples = s.columnExamples.data();
    const size_t count = s.columnExamples.size();
    for (size_t p = 0; p < count; ++p) {
        const int32_t j = examples[p];
        const int32_t chosen = chosenOf[j];
        if (changed) {
            // Working-set examples (chosen > 0) are up to date already.
            if (!chosen) lin[j] += delta[p];
            delta[p] = 0.0;
        }
        const int32_t y = target[j];
        if (!y || inconsistent[j]) continue;

        const double a = alpha[j];
        const double value = lin[j];
        const double dist = (value - c.threshold) * y;
        const double upper = cost[j] - c.epsA;
        const bool aboveLow = a > c.epsA, belowHigh = a < upper;
        const bool over = aboveLow & (dist > 1.0);
        const bool under = !over & belowHigh & (dist < 1.0);
        const double violation = over ? dist - 1.0 : (under ? 1.0 - dist : 0.0);
        largest = largest < violation ? violation : largest;
        const bool atLow = a <= c.epsA, atHigh = a >= upper;
        const bool suboptimal = (aboveLow & belowHigh) | (atLow & (dist < 1.0 + c.epsShrink)) |
                                (atHigh & (dist > 1.0 - c.epsShrink));
        lastSuboptimal[j] = suboptimal ? c.now : lastSuboptimal[j];

        if (chosen && chosen < c.stay) continue;
        unordered |= value != value;
        offerCandidate(next.down, downSize, next.up, upSize, j, y, value, atLow, atHigh);
    }
    next.down.size = downSize;
    next.up.size = upSize;
    return largest;
}

}  // namespace

double SvmTrainer::checkLinear(TrainState& s, const SvmModel& model) {
    LearnParams& lp = s.lp;
    lp.epsilonShrink = s.epsilonCritOrg - lp.epsilonCrit;
    if (s.columnsStale) buildColumns(s);
    if (s.weightsChanged) {
        const LinearColumns& columns = *s.columns;
        addColumns(s.delta.data(), columns.start.data(), columns.doc.data(), columns.weight.data(), s.weights.data(),
                   s.changedFeatures.data(), s.changedFeatures.size());
    }
    CheckPass pass;
    pass.threshold = model.b;
    pass.epsA = lp.epsilonA;
    pass.epsShrink = lp.epsilonShrink;
    pass.now = int32_t(std::min<int64_t>(s.iteration, INT32_MAX));
    // The next selection takes at most half of q_max by each criterion; the
    // second criterion's list holds as many more, because it must skip what
    // the first one took.
    pass.half = lp.maxQpSize / 2;
    pass.stay = s.stay();
    bool unordered = false;
    const double maxdiff = checkActive(s, pass, unordered);

    TrainState::NextSelection& next = s.next;
    next.valid = !unordered;  // no order to rely on: select afresh
    next.activeVersion = s.activeVersion;
    next.maxQpSize = lp.maxQpSize;
    next.stay = int32_t(s.stay());
    if (s.weightsChanged) {
        double* w = s.weights.data();
        forEachBit(s.changedFeatures.data(), s.changedFeatures.size(), [&](size_t f) { w[f] = 0.0; });
        std::fill(s.changedFeatures.begin(), s.changedFeatures.end(), 0);
        s.weightsChanged = false;
    }
    return maxdiff;
}

bool SvmTrainer::selectPredicted(TrainState& s, int64_t budget) {
    TrainState::NextSelection& next = s.next;
    if (!next.valid || next.activeVersion != s.activeVersion || next.maxQpSize != s.lp.maxQpSize ||
        next.stay != s.stay())
        return false;
    next.valid = false;
    if (budget <= 0) return true;
    const int64_t half = budget / 2;
    int64_t first = 0;
    for (int64_t k = 0; k < next.down.size && first < half; ++k, ++first) {
        const int32_t i = next.down.key[size_t(k)];
        s.chosen[size_t(i)] = 1;
        s.working.push_back(i);
    }
    const int64_t count = std::min(half, budget - first);
    int64_t second = 0;
    for (int64_t k = 0; k < next.up.size && second < count; ++k) {
        const int32_t i = next.up.key[size_t(k)];
        if (s.chosen[size_t(i)]) continue;
        s.chosen[size_t(i)] = 1;
        s.working.push_back(i);
        ++second;
    }
    return true;
}

}  // namespace kestrel
