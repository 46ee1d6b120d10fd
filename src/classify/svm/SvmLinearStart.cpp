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
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>

#include "classify/svm/SvmTrainer.h"
#include "classify/svm/TrainState.h"

namespace kestrel {

namespace {

// Coordinate-descent settings: the sweeps end at a gradient span of 0.03,
// accurate enough for the sign of the balance near its root, and the
// threshold search when its bracket is 1e-4 wide; the decomposition takes
// it the rest of the way, which costs less than tighter settings here (on
// text corpora of 2,000 to 100,000 documents: tens of iterations, against
// hundreds from 0). The sweeps of one training are bounded; what is left
// then is the decomposition's as well.
constexpr double kSweepTolerance = 0.03;
constexpr double kThresholdWidth = 1e-4;
constexpr int64_t kMaxSweeps = 400;
constexpr int kMaxThresholdSteps = 40;

// Coordinate descent over the multipliers for a fixed threshold, with the
// weight vector w = sum_i a_i y_i x_i kept up to date.
class DualDescent {
public:
    DualDescent(TrainState& s, std::vector<double>& w, const std::function<bool()>& stop)
        : s_(s), w_(w), stop_(stop) {
        for (int32_t i = 0; i < s.n; ++i) {
            if (!s.y[size_t(i)]) continue;
            examples_.push_back(i);
            squaredNorm_.push_back(s.docs[size_t(i)].twoNorm);
        }
    }

    // How a solve treats the examples shrunk by the last one.
    enum class Shrunk {
        Restore,  // all examples take part from the start, and are checked at the end
        Keep,     // they stay out, and are not checked at the end
        Check,    // they stay out until the rest converged, then are checked
    };

    // Sweeps until the projected gradients of the multipliers span at most
    // `tolerance` or the sweeps left are used up; returns sum_i y_i a_i.
    // Examples kept at a bound are left out of later sweeps (shrunk).
    double solve(double b, double tolerance, Shrunk shrunk) {
        if (order_.size() != examples_.size()) {
            order_.resize(examples_.size());
            for (size_t k = 0; k < order_.size(); ++k) order_[k] = k;
            active_ = order_.size();
        }
        if (shrunk == Shrunk::Restore) active_ = order_.size();
        double highest = std::numeric_limits<double>::infinity(), lowest = -highest;
        for (; sweepsLeft_ > 0 && active_ > 0; --sweepsLeft_) {
            // A stop asked for ends the sweeps; the decomposition then ends
            // the training at its first check.
            if (stop_ && stop_()) {
                sweepsLeft_ = 0;
                break;
            }
            const double span = sweep(b, highest, lowest);
            if (span <= tolerance) {
                if (shrunk == Shrunk::Keep || active_ == order_.size()) break;
                active_ = order_.size();
                highest = std::numeric_limits<double>::infinity();
                lowest = -highest;
            }
        }
        double balance = 0.0;
        for (int32_t i : examples_) balance += s_.y[size_t(i)] * s_.a[size_t(i)];
        return balance;
    }

private:
    // One sweep over the active examples in random order; returns the span
    // of their projected gradients and sets the shrinking limits for the
    // next sweep.
    double sweep(double b, double& highest, double& lowest) {
        // A fixed seed: the same documents always train the same way.
        for (size_t k = active_; k > 1; --k) std::swap(order_[k - 1], order_[size_t(random_() % k)]);
        double sweepHigh = -std::numeric_limits<double>::infinity(), sweepLow = -sweepHigh;
        aheadCount_ = 0;
        for (size_t k = 0; k < active_;) {
            double gradient = 0.0;
            if (!step(order_[k], dotAt(k), b, highest, lowest, gradient)) {
                // Kept at its bound by the last sweep's gradients: left out
                // until the whole set is checked again.
                std::swap(order_[k], order_[--active_]);
                continue;
            }
            sweepHigh = std::max(sweepHigh, gradient);
            sweepLow = std::min(sweepLow, gradient);
            ++k;
        }
        highest = sweepHigh <= 0.0 ? std::numeric_limits<double>::infinity() : sweepHigh;
        lowest = sweepLow >= 0.0 ? -std::numeric_limits<double>::infinity() : sweepLow;
        return sweepHigh - sweepLow;
    }

    // The dot product of w with the example at position k of the order.
    // Near the optimum most steps leave w as it is, so after a run of steps
    // that left it so the products of the next few examples are summed side
    // by side (each in its own entry order, the same double as alone) and
    // kept until w changes; while steps change it often, each step sums
    // only its own.
    double dotAt(size_t k) {
        const size_t example = order_[k];
        for (size_t t = 0; t < aheadCount_; ++t)
            if (aheadExample_[t] == example) return aheadDot_[t];
        aheadCount_ = unchangedSteps_ < kSteadyRun ? 1 : std::min(kAhead, active_ - k);
        const DocumentVector* docs[kAhead];
        for (size_t t = 0; t < aheadCount_; ++t) {
            aheadExample_[t] = order_[k + t];
            docs[t] = &s_.docs[size_t(examples_[aheadExample_[t]])];
        }
        denseDots(w_.data(), docs, aheadCount_, aheadDot_);
        return aheadDot_[0];
    }

    // One coordinate step on example examples_[k], whose dot product with w
    // is `dot`: false when it sits at a bound its gradient pushes it against
    // beyond the last sweep's range (it is then shrunk), else its projected
    // gradient goes to `projected`.
    bool step(size_t k, double dot, double b, double highest, double lowest, double& projected) {
        ++unchangedSteps_;
        const int32_t i = examples_[k];
        const DocumentVector& x = s_.docs[size_t(i)];
        const double y = s_.y[size_t(i)];
        const double gradient = y * (dot - b) - 1.0;
        double& a = s_.a[size_t(i)];
        const double C = s_.lp.svmCost[size_t(i)];
        projected = gradient;
        if (a <= 0.0) {
            if (gradient > highest) return false;
            projected = std::min(gradient, 0.0);
        } else if (a >= C) {
            if (gradient < lowest) return false;
            projected = std::max(gradient, 0.0);
        }
        if (std::fabs(projected) <= 1e-12) return true;
        const double q = squaredNorm_[k];
        // An empty document's gradient does not depend on its multiplier.
        const double next = q > 0.0 ? std::clamp(a - gradient / q, 0.0, C) : (gradient < 0.0 ? C : 0.0);
        const double change = (next - a) * y;
        a = next;
        if (change != 0.0) {
            unchangedSteps_ = 0;
            for (const VectorEntry* e = x.list(); e->wnum; ++e) w_[size_t(e->wnum)] += change * e->weight;
            aheadCount_ = 0;
        }
        return true;
    }

    TrainState& s_;
    std::vector<double>& w_;
    const std::function<bool()>& stop_;
    std::vector<int32_t> examples_;
    std::vector<double> squaredNorm_;
    std::vector<size_t> order_;  // positions in examples_; the first active_ take part
    size_t active_ = 0;
    // Dot products summed ahead: examples (positions in examples_) and their
    // values, valid while w stays unchanged.
    static constexpr size_t kAhead = 4;
    size_t aheadExample_[kAhead] = {};
    double aheadDot_[kAhead] = {};
    size_t aheadCount_ = 0;
    static constexpr int64_t kSteadyRun = 8;
    int64_t unchangedSteps_ = 0;  // steps since w last changed
    std::mt19937_64 random_{20261208};
    int64_t sweepsLeft_ = kMaxSweeps;
};


// The threshold where sum_i y_i a_i(b) changes sign, leaving the
// multipliers solved for it.
double findThreshold(DualDescent& descent, double tolerance) {
    using Shrunk = DualDescent::Shrunk;
    double b = 0.0;
    double balance = descent.solve(b, kSweepTolerance, Shrunk::Check);
    if (std::fabs(balance) <= tolerance) return b;
    // Bracket the sign change: the balance grows with b.
    double step = balance > 0.0 ? -1.0 : 1.0;
    double lowB = b, lowBalance = balance, highB = b, highBalance = balance;
    for (int k = 0; k < kMaxThresholdSteps; ++k, step *= 2.0) {
        b += step;
        balance = descent.solve(b, kSweepTolerance, Shrunk::Restore);
        if (std::fabs(balance) <= tolerance) return b;
        if ((balance > 0.0) == (step > 0.0)) {
            (step > 0.0 ? highB : lowB) = b;
            (step > 0.0 ? highBalance : lowBalance) = balance;
            break;
        }
        (step > 0.0 ? lowB : highB) = b;
        (step > 0.0 ? lowBalance : highBalance) = balance;
    }
    if (!(lowBalance < 0.0 && highBalance > 0.0)) return b;
    // Regula falsi with the Illinois correction: a side kept twice counts
    // half, so the bracket closes from both ends. The steps are small, so
    // the examples shrunk at one b stay out at the next.
    int kept = 0;
    for (int k = 0; k < kMaxThresholdSteps && highB - lowB > kThresholdWidth; ++k) {
        b = (lowB * highBalance - highB * lowBalance) / (highBalance - lowBalance);
        if (!(b > lowB && b < highB)) b = 0.5 * (lowB + highB);
        balance = descent.solve(b, kSweepTolerance, Shrunk::Keep);
        if (std::fabs(balance) <= tolerance) return b;
        if (balance < 0.0) {
            lowB = b;
            lowBalance = balance;
            if (kept < 0) highBalance *= 0.5;
            kept = kept < 0 ? kept - 1 : -1;
        } else {
            highB = b;
            highBalance = balance;
            if (kept > 0) lowBalance *= 0.5;
            kept = kept > 0 ? kept + 1 : 1;
        }
    }
    return b;
}

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
    std::vector<double> w(s.weights.size(), 0.0);
    DualDescent descent(s, w, stop_);
    if (s.lp.biasedHyperplane) {
        double scale = 0.0;
        for (int32_t i = 0; i < s.n; ++i) scale = std::max(scale, s.lp.svmCost[size_t(i)]);
        model.b = findThreshold(descent, 1e-9 * scale);
        // Every example checked at the threshold found.
        descent.solve(model.b, kSweepTolerance, DualDescent::Shrunk::Check);
        removeImbalance(s);
    } else {
        descent.solve(0.0, kSweepTolerance, DualDescent::Shrunk::Check);
    }

    // The decision values and the model of these multipliers.
    std::fill(w.begin(), w.end(), 0.0);
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
