// The steps of a training with the linear kernel that touch every active
// example: bringing the decision values up to date after the multipliers of
// the working set changed, the optimality check, and finding the candidates
// of the next working set. They run in one pass per iteration, in blocks of
// examples that two threads share.
//
// The results are the same doubles as those of a plain pass over the
// examples: an example's decision value changes by the dot product of the
// weight change with the example, whose products are summed in ascending
// feature order; here each example's products are added up in the same
// order (features ascending), only the products of features whose weight
// did not change are left out, and those are exact zeros. Every example
// belongs to one block, so it does not matter which thread works on it.
#include <algorithm>
#include <limits>

#include "classify/svm/CSVM.h"
#include "classify/svm/TrainState.h"

namespace kestrel {

namespace {

// Problems with fewer active entries than this per block are worked on in
// fewer blocks (one block: by the calling thread alone).
constexpr int64_t kBlockEntries = 10000;
constexpr size_t kMaxBlocks = 2;
constexpr size_t kStripe = 64;
// An iteration that touches fewer entries than this runs on the calling
// thread alone; handing work to the helper would cost more than it saves.
constexpr int64_t kParallelWork = 6000;

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

// Lays out the active examples' entries by feature, in blocks that take
// turns of kStripe examples each (so that the examples of one category,
// which tend to change together, spread over all blocks), with a counting
// sort, so each column lists its examples in ascending order. The columns
// hold positions in the block, whose changes are summed in an array of the
// block's own (threads that add up in one shared array, even in parts of
// their own, slow each other down badly).
void buildColumns(TrainState& s) {
    // Every training of the same documents starts with all of them active.
    InitialColumns* initial = s.active.size() == size_t(s.n) ? s.initialColumns : nullptr;
    if (initial && initial->documents == size_t(s.n) && initial->features == s.weights.size()) {
        s.blocks.resize(initial->examples.size());
        for (size_t b = 0; b < s.blocks.size(); ++b) {
            s.blocks[b].examples = initial->examples[b];
            s.blocks[b].columns = initial->columns[b];
            s.blocks[b].delta.assign(s.blocks[b].examples.size(), 0.0);
        }
        s.columnSize = initial->columnSize;
        s.columnsStale = false;
        return;
    }
    int64_t total = 0;
    for (int32_t j : s.active) total += int64_t(s.docs[size_t(j)].size());
    // More than one block only pays when a second thread works on them.
    const size_t count =
        ChunkRunner::helpful() ? std::clamp<size_t>(size_t(total / kBlockEntries), 1, kMaxBlocks) : 1;
    s.blocks.resize(count);
    for (TrainState::ColumnBlock& block : s.blocks) {
        block.examples.clear();
        // Columns no one else holds are filled again in place (big arrays
        // that are freed and allocated anew cost page faults every time).
        if (block.columns && block.columns.use_count() == 1)
            block.spare = std::const_pointer_cast<LinearColumns>(std::move(block.columns));
        block.columns.reset();
    }
    for (int32_t j : s.active) s.blocks[(size_t(j) / kStripe) % count].examples.push_back(j);
    s.columnsStale = false;
}

// Fills a block's columns (on the thread that works on the block, so they
// are in its cache).
void fillBlock(TrainState& s, TrainState::ColumnBlock& block) {
    const size_t features = s.weights.size();
    std::shared_ptr<LinearColumns> columns =
        block.spare ? std::move(block.spare) : std::make_shared<LinearColumns>();
    std::vector<int64_t>& next = columns->start;
    next.assign(features + 1, 0);
    for (int32_t j : block.examples)
        for (const SvmWord* e = s.docs[size_t(j)].list(); e->wnum; ++e) ++next[size_t(e->wnum) + 1];
    for (size_t f = 0; f < features; ++f) next[f + 1] += next[f];
    const size_t entries = size_t(next[features]);
    columns->doc.resize(entries);
    columns->weight.resize(entries);
    for (size_t p = 0; p < block.examples.size(); ++p)
        for (const SvmWord* e = s.docs[size_t(block.examples[p])].list(); e->wnum; ++e) {
            const size_t at = size_t(next[size_t(e->wnum)]++);
            columns->doc[at] = int32_t(p);
            columns->weight[at] = e->weight;
        }
    // The fill moved every start one column on; move them back.
    for (size_t f = features; f > 0; --f) next[f] = next[f - 1];
    next[0] = 0;
    block.columns = std::move(columns);
    block.delta.assign(block.examples.size(), 0.0);
}

// Merges the blocks' candidate lists into one: by descending criterion, and
// among equal criteria in the order of the active list, which is ascending
// example order.
void mergeCandidates(TrainState& s, TopList TrainState::ColumnBlock::*list, TopList& into,
                     int64_t capacity) {
    std::vector<std::pair<double, int32_t>>& all = s.mergeScratch;
    all.clear();
    for (const TrainState::ColumnBlock& block : s.blocks) {
        const TopList& part = block.*list;
        for (int64_t k = 0; k < part.size; ++k) all.push_back({part.value[size_t(k)], part.key[size_t(k)]});
    }
    std::sort(all.begin(), all.end(), [](const auto& x, const auto& y) {
        return x.first > y.first || (x.first == y.first && x.second < y.second);
    });
    into.reset(capacity);
    for (const auto& [value, key] : all) into.offer(value, key);
}

// The helper thread's copy of this iteration's weight change, computed the
// same way as the caller's.
void refreshHelperWeights(TrainState& s) {
    if (s.helperChangeNumber == s.changeNumber) return;
    if (s.helperWeights.size() != s.weights.size()) {
        s.helperWeights.assign(s.weights.size(), 0.0);
        s.helperFeatures.assign(s.changedFeatures.size(), 0);
    }
    double* w = s.helperWeights.data();
    uint64_t* bits = s.helperFeatures.data();
    forEachBit(bits, s.helperFeatures.size(), [&](size_t f) { w[f] = 0.0; });
    std::fill(s.helperFeatures.begin(), s.helperFeatures.end(), 0);
    for (const auto& [i, factor] : s.weightChange)
        for (const SvmWord* e = s.docs[size_t(i)].list(); e->wnum; ++e) {
            w[e->wnum] += factor * e->weight;
            bits[size_t(e->wnum) >> 6] |= uint64_t(1) << (e->wnum & 63);
        }
    s.helperChangeNumber = s.changeNumber;
}

}  // namespace

void CSVM::updateLinearWeights(TrainState& s) {
    // The weight change dw = sum of y_i (a_i - a_old_i) x_i over the working
    // set, accumulated in working-set order.
    s.weightChange.clear();
    double* w = s.weights.data();
    uint64_t* bits = s.changedFeatures.data();
    for (int32_t i : s.working) {
        const double change = s.a[size_t(i)] - s.aOld[size_t(i)];
        if (change == 0.0) continue;
        const double factor = double(s.y[size_t(i)]) * change;
        s.weightChange.push_back({i, factor});
        for (const SvmWord* e = s.docs[size_t(i)].list(); e->wnum; ++e) {
            w[e->wnum] += factor * e->weight;
            bits[size_t(e->wnum) >> 6] |= uint64_t(1) << (e->wnum & 63);
        }
    }
    s.weightsChanged = !s.weightChange.empty();
    if (!s.weightsChanged) return;
    ++s.changeNumber;
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

// One block's share of the check (see beginLinearCheck).
void checkBlock(TrainState& s, int index, int lane) {
    const TrainState::Check& c = s.check;
    const LearnParams& lp = s.lp;
    const bool changed = c.changed;
    const int64_t half = c.half, stay = c.stay;
    const int32_t now = c.now;
    TrainState::ColumnBlock& block = s.blocks[size_t(index)];
    // The calling thread has just written these examples' entries (the
    // working sets of this iteration and the last): fetch them now, so that
    // the transfer between the cores overlaps with the work below.
    for (const std::vector<int32_t>* set : {&s.working, &s.previousWorking})
        for (int32_t i : *set) {
            __builtin_prefetch(&s.a[size_t(i)]);
            __builtin_prefetch(&s.chosen[size_t(i)]);
            __builtin_prefetch(&s.lin[size_t(i)], 1);
        }
    if (!block.columns) fillBlock(s, block);
    if (changed) {
        if (lane != 0) refreshHelperWeights(s);
        const double* w = lane == 0 ? s.weights.data() : s.helperWeights.data();
        const std::vector<uint64_t>& bits = lane == 0 ? s.changedFeatures : s.helperFeatures;
        const LinearColumns& columns = *block.columns;
        addColumns(block.delta.data(), columns.start.data(), columns.doc.data(), columns.weight.data(), w,
                   bits.data(), bits.size());
    }
    // The check needs the threshold, which the calling thread sets while
    // the helper adds up the changes.
    while (!c.thresholdKnown.load(std::memory_order_acquire)) ChunkRunner::relax();
    // Values of this step in registers of this thread (stores to the
    // arrays below could otherwise alias them).
    const double epsA = lp.epsilonA, epsShrink = lp.epsilonShrink, b = c.threshold;
    block.down.reset(half);
    block.up.reset(2 * half);
    bool unordered = false;
    double largest = 0.0;
    const int32_t* chosenOf = s.chosen.data();
    const int32_t* target = s.y.data();
    const int32_t* inconsistent = s.inconsistent.data();
    const double* alpha = s.a.data();
    const double* cost = lp.svmCost.data();
    double* lin = s.lin.data();
    int32_t* lastSuboptimal = s.lastSuboptimal.data();
    // The candidate lists, worked on through locals (TopList::offer).
    double* const downValues = block.down.value.data();
    int32_t* const downKeys = block.down.key.data();
    double* const upValues = block.up.value.data();
    int32_t* const upKeys = block.up.key.data();
    const int64_t downCapacity = block.down.capacity, upCapacity = block.up.capacity;
    int64_t downSize = 0, upSize = 0;
    double* const delta = block.delta.data();
    const int32_t* examples = block.examples.data();
    const size_t count = block.examples.size();
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

        // The optimality check (as TrainState::checkExample, written
        // without branches on the data).
        const double a = alpha[j];
        const double value = lin[j];
        const double dist = (value - b) * y;
        const double upper = cost[j] - epsA;
        const bool aboveLow = a > epsA, belowHigh = a < upper;
        const bool over = aboveLow & (dist > 1.0);
        const bool under = !over & belowHigh & (dist < 1.0);
        const double violation = over ? dist - 1.0 : (under ? 1.0 - dist : 0.0);
        largest = largest < violation ? violation : largest;
        const bool atLow = a <= epsA, atHigh = a >= upper;
        const bool suboptimal = (aboveLow & belowHigh) | (atLow & (dist < 1.0 + epsShrink)) |
                                (atHigh & (dist > 1.0 - epsShrink));
        lastSuboptimal[j] = suboptimal ? now : lastSuboptimal[j];

        // Candidates of the next selection: the working set is emptied
        // of the examples that have stayed long enough before it.
        if (chosen && chosen < stay) continue;
        unordered |= value != value;
        const bool positive = y > 0;
        const bool canDown = positive ? !atLow : !atHigh;
        const bool canUp = positive ? !atHigh : !atLow;
        const double downValue = value - double(y), upValue = double(y) - value;
        if (canDown && downCapacity && (downSize < downCapacity || downValue > downValues[downCapacity - 1]))
            TopList::insert(downValues, downKeys, downSize, downCapacity, downValue, j);
        if (canUp && upCapacity && (upSize < upCapacity || upValue > upValues[upCapacity - 1]))
            TopList::insert(upValues, upKeys, upSize, upCapacity, upValue, j);
    }
    block.down.size = downSize;
    block.up.size = upSize;
    block.unordered = unordered;
    block.maxdiff = largest;
}

}  // namespace

void CSVM::beginLinearCheck(TrainState& s) {
    TrainState::Check& c = s.check;
    LearnParams& lp = s.lp;
    lp.epsilonShrink = s.epsilonCritOrg - lp.epsilonCrit;
    c.now = int32_t(std::min<int64_t>(s.iteration, INT32_MAX));
    // The columns of a changed active set are filled by the blocks' own
    // threads; that is big work too.
    if (s.columnsStale) buildColumns(s);
    c.fill = false;
    for (const TrainState::ColumnBlock& block : s.blocks) c.fill = c.fill || !block.columns;
    c.changed = s.weightsChanged;
    int64_t work = int64_t(s.active.size());
    if (c.fill)
        work = kParallelWork;
    else if (c.changed)
        forEachBit(s.changedFeatures.data(), s.changedFeatures.size(),
                   [&](size_t f) { work += s.columnSize[f]; });
    // The next selection takes at most half of q_max by each criterion; the
    // second criterion's list holds as many more, because it must skip what
    // the first one took.
    c.half = lp.maxQpSize / 2;
    c.stay = s.stay();
    c.thresholdKnown.store(false);
    if (!s.checkJob) s.checkJob = [&s](int index, int lane) { checkBlock(s, index, lane); };
    s.runner.begin(int(s.blocks.size()), s.checkJob, work >= kParallelWork);
}

double CSVM::finishLinearCheck(TrainState& s, const SvmModel& model) {
    TrainState::Check& c = s.check;
    const LearnParams& lp = s.lp;
    c.threshold = model.b;
    c.thresholdKnown.store(true, std::memory_order_release);
    s.runner.finish();
    const bool fill = c.fill, changed = c.changed;
    const int64_t half = c.half;
    if (fill) {
        // Entries per feature over all blocks, for the estimate above.
        const size_t features = s.weights.size();
        s.columnSize.assign(features, 0);
        for (const TrainState::ColumnBlock& block : s.blocks)
            for (size_t f = 0; f < features; ++f)
                s.columnSize[f] += block.columns->start[f + 1] - block.columns->start[f];
        if (s.initialColumns && s.active.size() == size_t(s.n) && s.initialColumns->documents == 0) {
            InitialColumns& initial = *s.initialColumns;
            initial.documents = size_t(s.n);
            initial.features = features;
            for (const TrainState::ColumnBlock& block : s.blocks) {
                initial.examples.push_back(block.examples);
                initial.columns.push_back(block.columns);
            }
            initial.columnSize = s.columnSize;
        }
    }

    double maxdiff = 0.0;
    TrainState::NextSelection& next = s.next;
    next.valid = true;
    next.activeVersion = s.activeVersion;
    next.maxQpSize = lp.maxQpSize;
    next.stay = int32_t(s.stay());
    for (const TrainState::ColumnBlock& block : s.blocks) {
        maxdiff = std::max(maxdiff, block.maxdiff);
        if (block.unordered) next.valid = false;  // no order to rely on: select afresh
    }
    if (next.valid) {
        mergeCandidates(s, &TrainState::ColumnBlock::down, next.down, half);
        mergeCandidates(s, &TrainState::ColumnBlock::up, next.up, 2 * half);
    }
    if (changed) {
        double* w = s.weights.data();
        forEachBit(s.changedFeatures.data(), s.changedFeatures.size(), [&](size_t f) { w[f] = 0.0; });
        std::fill(s.changedFeatures.begin(), s.changedFeatures.end(), 0);
        s.weightsChanged = false;
    }
    return maxdiff;
}

bool CSVM::selectPredicted(TrainState& s, int64_t budget) {
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
