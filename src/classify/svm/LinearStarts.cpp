// The starting point of a training with the linear kernel: dual coordinate
// descent brings the multipliers close to the optimum at a cost of one pass
// over the entries per sweep, far cheaper than the decomposition's
// iterations, which each bring every decision value up to date. The
// decomposition then starts from there and ends the training as always, so
// the model meets the same conditions with the same tolerance.
//
// The threshold couples all multipliers through sum_i y_i a_i = 0, which
// coordinate descent cannot keep. For a fixed threshold b the problem
//   maximise sum_i a_i (1 + y_i b) - 1/2 |sum_i a_i y_i x_i|^2, 0 <= a_i <= C_i
// has no such constraint, and sum_i y_i a_i(b) grows with b; the b where it
// changes sign is the threshold of the full problem. It is found by
// bracketing and regula falsi, each step starting from the multipliers of
// the last one; the small remainder of the sum is then removed by scaling
// one side's multipliers.
//
// The one-versus-rest problems of a training file differ only in their
// targets, so a group of them descends together: every sweep visits the
// documents any of them still needs in one random order, reads each
// document once and takes the step of every problem that needs it. On a
// large corpus a sweep is bound by reading the documents from memory, and a
// group shares that; the dot products of one document with the group's
// weight vectors are independent sums, which the processor overlaps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>

#include "classify/svm/LinearStarts.h"
#include "common/ParallelFor.h"

namespace kestrel {

namespace {

// Coordinate-descent settings: the sweeps end at a gradient span of 0.03,
// accurate enough for the sign of the balance near its root, and the
// threshold search when its bracket is 1e-4 wide; the decomposition takes
// it the rest of the way, which costs less than tighter settings here (on
// text corpora of 2,000 to 100,000 documents: tens of iterations, against
// hundreds from 0). The sweeps of one problem are bounded; what is left
// then is the decomposition's as well.
constexpr double kSweepTolerance = 0.03;
constexpr double kThresholdWidth = 1e-4;
constexpr int64_t kMaxSweeps = 400;
constexpr int kMaxThresholdSteps = 40;
// Problems that descend together (one bit each in a document's mask). The
// groups are fixed by the number of problems alone, so that the starts are
// the same however many threads run them.
constexpr size_t kGroupLimit = 5;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// How a solve treats the examples shrunk by the last one.
enum class Shrunk {
    Restore,  // all examples take part from the start, and are checked at the end
    Keep,     // they stay out, and are not checked at the end
    Check,    // they stay out until the rest converged, then are checked
};

// The search for the threshold of one problem, as a sequence of solves at
// fixed thresholds: each solve's balance sum_i y_i a_i decides the next.
class ThresholdSearch {
public:
    // The next solve to run.
    struct Request {
        double b = 0.0;
        Shrunk shrunk = Shrunk::Check;
    };

    ThresholdSearch(bool biased, double tolerance) : tolerance_(tolerance) {
        phase_ = biased ? Phase::First : Phase::Final;
    }
    Request first() const { return {0.0, Shrunk::Check}; }
    bool done() const { return phase_ == Phase::Done; }
    double threshold() const { return b_; }

    // Takes the balance of the last solve; false when the search is over,
    // else `next` is the next solve.
    bool next(double balance, Request& next) {
        const bool balanced = std::fabs(balance) <= tolerance_;
        switch (phase_) {
        case Phase::First:
            if (balanced) return finish(next);
            // Bracket the sign change: the balance grows with b.
            step_ = balance > 0.0 ? -1.0 : 1.0;
            lowBalance_ = highBalance_ = balance;
            phase_ = Phase::Bracket;
            return bracket(next);
        case Phase::Bracket:
            if (balanced) return finish(next);
            if ((balance > 0.0) == (step_ > 0.0)) {
                (step_ > 0.0 ? highB_ : lowB_) = b_;
                (step_ > 0.0 ? highBalance_ : lowBalance_) = balance;
                return startFalsi(next);
            }
            (step_ > 0.0 ? lowB_ : highB_) = b_;
            (step_ > 0.0 ? lowBalance_ : highBalance_) = balance;
            ++steps_;
            step_ *= 2.0;
            return bracket(next);
        case Phase::Falsi:
            if (balanced) return finish(next);
            narrow(balance);
            ++steps_;
            return falsi(next);
        case Phase::Final:
            phase_ = Phase::Done;
            return false;
        case Phase::Done:
            break;
        }
        return false;
    }

private:
    enum class Phase { First, Bracket, Falsi, Final, Done };

    bool bracket(Request& next) {
        if (steps_ >= kMaxThresholdSteps) return startFalsi(next);
        b_ += step_;
        next = {b_, Shrunk::Restore};
        return true;
    }
    bool startFalsi(Request& next) {
        if (!(lowBalance_ < 0.0 && highBalance_ > 0.0)) return finish(next);
        phase_ = Phase::Falsi;
        steps_ = 0;
        return falsi(next);
    }
    // Regula falsi with the Illinois correction: a side kept twice counts
    // half, so the bracket closes from both ends. The steps are small, so
    // the examples shrunk at one b stay out at the next.
    bool falsi(Request& next) {
        if (steps_ >= kMaxThresholdSteps || highB_ - lowB_ <= kThresholdWidth) return finish(next);
        b_ = (lowB_ * highBalance_ - highB_ * lowBalance_) / (highBalance_ - lowBalance_);
        if (!(b_ > lowB_ && b_ < highB_)) b_ = 0.5 * (lowB_ + highB_);
        next = {b_, Shrunk::Keep};
        return true;
    }
    void narrow(double balance) {
        if (balance < 0.0) {
            lowB_ = b_;
            lowBalance_ = balance;
            if (kept_ < 0) highBalance_ *= 0.5;
            kept_ = kept_ < 0 ? kept_ - 1 : -1;
        } else {
            highB_ = b_;
            highBalance_ = balance;
            if (kept_ > 0) lowBalance_ *= 0.5;
            kept_ = kept_ > 0 ? kept_ + 1 : 1;
        }
    }
    // Every example checked at the threshold found.
    bool finish(Request& next) {
        phase_ = Phase::Final;
        next = {b_, Shrunk::Check};
        return true;
    }

    double tolerance_;
    Phase phase_;
    double b_ = 0.0, step_ = 0.0;
    double lowB_ = 0.0, highB_ = 0.0, lowBalance_ = 0.0, highBalance_ = 0.0;
    int steps_ = 0, kept_ = 0;
};

// The coordinate descent of a group of problems, with each one's weight
// vector w = sum_i a_i y_i x_i kept up to date (the group's vectors
// interleaved by feature, so that one entry reaches all of them in one
// cache line).
class GroupDescent {
public:
    GroupDescent(const std::vector<DocumentVector>& docs, size_t features, const StartProblem* const* problems,
                 LinearStart* const* starts, size_t count, bool biased, const std::function<bool()>& stop)
        : docs_(docs), count_(count), stop_(stop) {
        w_.assign(features * count, 0.0);
        mask_.assign(docs.size(), 0);
        for (size_t c = 0; c < count; ++c) {
            Problem& p = problems_.emplace_back(*problems[c], *starts[c], biased, scale(*problems[c]));
            p.start.alpha.assign(docs.size(), 0.0);
            p.start.threshold = 0.0;
            for (size_t i = 0; i < docs.size(); ++i) p.examples += p.problem.y[i] != 0;
        }
    }

    // Runs every problem's search to its end; false when stopped.
    bool run() {
        for (size_t c = 0; c < count_; ++c) begin(c, problems_[c].search.first());
        for (;;) {
            if (stop_ && stop_()) return false;
            bool running = false;
            for (const Problem& p : problems_) running |= !p.search.done();
            if (!running) break;
            sweep();
            for (size_t c = 0; c < count_; ++c) afterSweep(c);
        }
        return true;
    }

private:
    struct Problem {
        Problem(const StartProblem& p, LinearStart& s, bool biased, double scale)
            : problem(p), start(s), search(biased, 1e-9 * scale) {}
        const StartProblem& problem;
        LinearStart& start;
        ThresholdSearch search;
        size_t examples = 0;  // with a target
        size_t active = 0;    // taking part in the sweeps
        double b = 0.0;
        Shrunk shrunk = Shrunk::Check;
        bool started = false;  // the first solve starts with every example
        // Shrinking limits from the last sweep's projected gradients, and
        // this sweep's range.
        double highest = kInfinity, lowest = -kInfinity;
        double sweepHigh = -kInfinity, sweepLow = kInfinity;
        int64_t sweepsLeft = kMaxSweeps;

        double cost(size_t i, int8_t y) const {
            return problem.cost ? problem.cost[i] : (y > 0 ? problem.costPositive : problem.costNegative);
        }
    };

    static double scale(const StartProblem& p) {
        double largest = 0.0;
        for (size_t i = 0; i < p.y.size(); ++i)
            if (p.y[i]) largest = std::max(largest, p.cost ? p.cost[i] : (p.y[i] > 0 ? p.costPositive : p.costNegative));
        return largest;
    }

    // Starts solves of problem c, from `request` on, until one has sweeps
    // to run or the search is over (a solve with nothing to sweep ends at
    // once).
    void begin(size_t c, ThresholdSearch::Request request) {
        Problem& p = problems_[c];
        for (;;) {
            // The shrinking limits of the last sweep still hold, widened by
            // the change of threshold, which moves every gradient by as
            // much; the first sweep of all has none.
            const double moved = std::fabs(request.b - p.b);
            p.highest = p.started ? p.highest + moved : kInfinity;
            p.lowest = p.started ? p.lowest - moved : -kInfinity;
            p.b = request.b;
            p.shrunk = request.shrunk;
            if (request.shrunk == Shrunk::Restore || !p.started) restoreAll(c);
            p.started = true;
            if (p.sweepsLeft > 0 && p.active > 0) return;
            if (!p.search.next(balance(c), request)) return finish(c);
        }
    }

    void afterSweep(size_t c) {
        Problem& p = problems_[c];
        if (p.search.done() || !(sweeping_ & (1u << c))) return;
        const double span = p.sweepHigh - p.sweepLow;
        p.highest = p.sweepHigh <= 0.0 ? kInfinity : p.sweepHigh;
        p.lowest = p.sweepLow >= 0.0 ? -kInfinity : p.sweepLow;
        --p.sweepsLeft;
        bool ended = false;
        if (span <= kSweepTolerance) {
            if (p.shrunk == Shrunk::Keep || p.active == p.examples) {
                ended = true;
            } else {
                restoreAll(c);
                p.highest = kInfinity;
                p.lowest = -kInfinity;
            }
        }
        if (!ended && p.sweepsLeft > 0 && p.active > 0) return;
        ThresholdSearch::Request request;
        if (p.search.next(balance(c), request)) begin(c, request);
        else finish(c);
    }

    double balance(size_t c) const {
        const Problem& p = problems_[c];
        double sum = 0.0;
        for (size_t i = 0; i < docs_.size(); ++i) sum += double(p.problem.y[i]) * p.start.alpha[i];
        return sum;
    }

    void restoreAll(size_t c) {
        Problem& p = problems_[c];
        const uint8_t bit = uint8_t(1u << c);
        for (size_t i = 0; i < docs_.size(); ++i)
            if (p.problem.y[i]) mask_[i] |= bit;
        p.active = p.examples;
        orderStale_ = true;
    }

    // A problem whose search is over takes no more part in the sweeps.
    void finish(size_t c) {
        Problem& p = problems_[c];
        const uint8_t bit = uint8_t(1u << c);
        for (size_t i = 0; i < docs_.size(); ++i) mask_[i] &= uint8_t(~bit);
        p.active = 0;
        p.start.threshold = p.search.threshold();
        orderStale_ = true;
    }

    // The problems of the next sweep. A problem that needs a sweep over all
    // its examples waits while others sweep only part of theirs, so that
    // such sweeps come together and read every document once for all.
    uint8_t nextSweeping() const {
        uint8_t running = 0, partial = 0;
        for (size_t c = 0; c < count_; ++c) {
            const Problem& p = problems_[c];
            if (p.search.done()) continue;
            running |= uint8_t(1u << c);
            if (p.active < p.examples) partial |= uint8_t(1u << c);
        }
        return partial ? partial : running;
    }

    // One sweep over the documents the sweeping problems need, in random
    // order.
    void sweep() {
        const uint8_t sweeping = nextSweeping();
        if (orderStale_ || sweeping != sweeping_) {
            sweeping_ = sweeping;
            order_.clear();
            for (size_t i = 0; i < docs_.size(); ++i)
                if (mask_[i] & sweeping) order_.push_back(int32_t(i));
            orderStale_ = false;
        }
        // A fixed seed: the same documents always train the same way.
        for (size_t k = order_.size(); k > 1; --k) std::swap(order_[k - 1], order_[size_t(random_() % k)]);
        for (Problem& p : problems_) {
            p.sweepHigh = -kInfinity;
            p.sweepLow = kInfinity;
        }
        // The processor cannot foresee a random order: the entries of the
        // document two visits ahead are fetched while this one is worked on.
        constexpr size_t kAhead = 2;
        size_t kept = 0;
        for (size_t k = 0; k < order_.size(); ++k) {
            if (k + kAhead < order_.size()) prefetch(docs_[size_t(order_[k + kAhead])]);
            const int32_t i = order_[k];
            if (visit(size_t(i))) order_[kept++] = i;
        }
        order_.resize(kept);
    }

    static void prefetch(const DocumentVector& doc) {
        const char* at = reinterpret_cast<const char*>(doc.words.data());
        const char* end = at + doc.words.size() * sizeof(VectorEntry);
        for (; at < end; at += 64) __builtin_prefetch(at, 0, 3);
    }

    // The steps of every sweeping problem that needs document i; false when
    // none needs it any more.
    bool visit(size_t i) {
        const uint8_t mask = mask_[i] & sweeping_;
        if (!mask) return false;
        size_t index[kGroupLimit];
        double value[kGroupLimit];
        size_t n = 0;
        for (size_t c = 0; c < count_; ++c)
            if (mask & (1u << c)) index[n++] = c;
        const VectorEntry* x = docs_[i].list();
        switch (n) {
        case 1: dots<1>(x, index, value); break;
        case 2: dots<2>(x, index, value); break;
        case 3: dots<3>(x, index, value); break;
        case 4: dots<4>(x, index, value); break;
        default: dots<kGroupLimit>(x, index, value); break;
        }
        // Each problem's step reads only its own weight vector, so the
        // changes of all of them reach the vectors in one pass afterwards.
        size_t moved = 0;
        for (size_t t = 0; t < n; ++t) {
            const double change = step(index[t], i, value[t]);
            if (change != 0.0) {
                index[moved] = index[t];
                value[moved++] = change;
            }
        }
        switch (moved) {
        case 0: break;
        case 1: add<1>(x, index, value); break;
        case 2: add<2>(x, index, value); break;
        case 3: add<3>(x, index, value); break;
        case 4: add<4>(x, index, value); break;
        default: add<kGroupLimit>(x, index, value); break;
        }
        return (mask_[i] & sweeping_) != 0;
    }

    // The dot products of the entries x with the weight vectors of N
    // problems, summed side by side; with fewer than four problems each
    // sum is split in two or four (alternate entries), so that there are
    // always several chains of additions for the processor to overlap.
    template <size_t N>
    void dots(const VectorEntry* x, const size_t* index, double* out) const {
        constexpr size_t kSplit = N >= 4 ? 1 : (N >= 2 ? 2 : 4);
        double sum[kSplit][N] = {};
        const double* w = w_.data();
        const VectorEntry* e = x;
        for (bool more = e->wnum != 0; more;) {
            for (size_t s = 0; s < kSplit && more; ++s, ++e) {
                const double* wf = w + size_t(e->wnum) * count_;
                for (size_t t = 0; t < N; ++t) sum[s][t] += wf[index[t]] * e->weight;
                more = e[1].wnum != 0;
            }
        }
        for (size_t t = 0; t < N; ++t) {
            double total = 0.0;
            for (size_t s = 0; s < kSplit; ++s) total += sum[s][t];
            out[t] = total;
        }
    }

    // Adds change[t] times the entries x to the weight vector of problem
    // index[t], for N problems.
    template <size_t N>
    void add(const VectorEntry* x, const size_t* index, const double* change) {
        double* w = w_.data();
        for (const VectorEntry* e = x; e->wnum; ++e) {
            double* wf = w + size_t(e->wnum) * count_;
            for (size_t t = 0; t < N; ++t) wf[index[t]] += change[t] * e->weight;
        }
    }

    // One coordinate step of problem c on example i, whose dot product with
    // the problem's weight vector is `dot`; returns the change of the
    // example's coefficient a_i y_i (its weight vector is not touched). An
    // example at a bound its gradient pushes it against beyond the last
    // sweep's range leaves the sweeps (is shrunk).
    double step(size_t c, size_t i, double dot) {
        Problem& p = problems_[c];
        const int8_t y = p.problem.y[i];
        const double gradient = double(y) * (dot - p.b) - 1.0;
        double& a = p.start.alpha[i];
        const double C = p.cost(i, y);
        double projected = gradient;
        if (a <= 0.0) {
            if (gradient > p.highest) return shrink(c, i);
            projected = std::min(gradient, 0.0);
        } else if (a >= C) {
            if (gradient < p.lowest) return shrink(c, i);
            projected = std::max(gradient, 0.0);
        }
        p.sweepHigh = std::max(p.sweepHigh, projected);
        p.sweepLow = std::min(p.sweepLow, projected);
        if (std::fabs(projected) <= 1e-12) return 0.0;
        const double q = docs_[i].twoNorm;
        // An empty document's gradient does not depend on its multiplier.
        const double next = q > 0.0 ? std::clamp(a - gradient / q, 0.0, C) : (gradient < 0.0 ? C : 0.0);
        const double change = (next - a) * double(y);
        a = next;
        return change;
    }

    double shrink(size_t c, size_t i) {
        mask_[i] &= uint8_t(~(1u << c));
        --problems_[c].active;
        return 0.0;
    }

    const std::vector<DocumentVector>& docs_;
    const size_t count_;
    const std::function<bool()>& stop_;
    std::vector<Problem> problems_;
    std::vector<double> w_;         // feature f, problem c at f * count_ + c
    std::vector<uint8_t> mask_;     // per document: the problems that sweep it
    std::vector<int32_t> order_;    // the documents some problem sweeps
    bool orderStale_ = true;        // order_ must be listed again from mask_
    uint8_t sweeping_ = 0;          // the problems of the sweep under way
    std::mt19937_64 random_{20261208};
};

}  // namespace

bool computeLinearStarts(const std::vector<DocumentVector>& docs, size_t features,
                         const std::vector<StartProblem>& problems, bool biased, unsigned threads,
                         const std::function<bool()>& stop, std::vector<LinearStart>& starts) {
    starts.assign(problems.size(), LinearStart());
    if (problems.empty()) return true;
    // At least two groups, so that two cores share the work, else groups of
    // at most kGroupLimit problems; consecutive problems go together.
    const size_t count = problems.size();
    const size_t groups = std::max((count + kGroupLimit - 1) / kGroupLimit, std::min<size_t>(count, 2));
    std::vector<char> finished(groups, 0);
    parallelFor(groups, threads, [&](size_t g) {
        const size_t first = g * count / groups, last = (g + 1) * count / groups;
        std::vector<const StartProblem*> group;
        std::vector<LinearStart*> out;
        for (size_t c = first; c < last; ++c) {
            group.push_back(&problems[c]);
            out.push_back(&starts[c]);
        }
        GroupDescent descent(docs, features, group.data(), out.data(), group.size(), biased, stop);
        finished[g] = descent.run();
    });
    return std::all_of(finished.begin(), finished.end(), [](char f) { return f != 0; });
}

}  // namespace kestrel
