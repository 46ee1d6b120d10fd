// The quadratic subproblem solver of SVM training: inverts the (regularised)
// Hessian of the working set and runs Hildreth's projected Gauss-Seidel
// iteration on the dual of the box and equality constraints. A driver
// retries with a reduced two-variable problem and adapts the solver's
// tolerances over the whole life of the solver.
#include "classify/svm/QpSolver.h"

#include <algorithm>
#include <cmath>

namespace kestrel {

namespace {

// Initial snap width of the primal solution.
constexpr double kEpsilonHideo = 1e-20;
// Regularisation added to a two-variable pivot whose Hessian is (nearly) singular.
constexpr double kAddEmptyDiagonal = 0.093274;
constexpr double kAddDependentPair = 0.078274;

}  // namespace

void QpSolver::allocate(int32_t nx) {
    CCompute_Result& r = state_;
    r.allocated = nx;
    r.dualFresh = false;  // zeroed below
    size_t n = size_t(nx);
    size_t nd = 2 * (n + 1);
    r.primal.assign(n, 0.0);
    r.dual.assign(nd, 0.0);
    r.dependent.assign(n, 0);
    r.start.assign(n, 0.0);
    r.d.assign(n * n, 0.0);
    r.inverse.assign(n * n, 0.0);
    r.gReg.assign(n * n, 0.0);
    r.g0Reg.assign(n, 0.0);
    r.dualHessian.assign(nd * nd, 0.0);
    r.dualLinear.assign(nd, 0.0);
    r.temp.assign(n, 0.0);
    r.dist.assign(n, 0.0);
    ReducedProblem& rp = r.reduced;
    rp.g.assign(n * n, 0.0);
    rp.g0.assign(n, 0.0);
    rp.ce.assign(n, 0.0);
    rp.low.assign(n, 0.0);
    rp.up.assign(n, 0.0);
    rp.inverse.assign(n * n, 0.0);
    rp.primal.assign(n, 0.0);
}

void QpSolver::resizeBuffers(int32_t n) {
    const bool fresh = state_.dualFresh;
    const double d0 = state_.dual.size() >= 2 ? state_.dual[0] : 0.0;
    const double d1 = state_.dual.size() >= 2 ? state_.dual[1] : 0.0;
    allocate(n);
    state_.dual[0] = d0;
    state_.dual[1] = d1;
    state_.dualFresh = fresh;
}

const double* QpSolver::solve(const QpSubproblem& qp, double& epsilonCrit, int32_t nx, double& threshold,
                              LearnParams& learnParams, int64_t& workLeft) {
    CCompute_Result& r = state_;
    r.largestRequest = std::max(r.largestRequest, qp.n);
    if (r.allocated == 0) {
        allocate(std::max(nx, qp.n));
        threshold = 0.0;
    } else if (qp.n > r.allocated) {
        allocate(qp.n);
    }

    QpResult code = solveReduced(qp, 0, false, r.precision, epsilonCrit, learnParams.epsilonA,
                                 r.maxIterations, r.linDepSensitivity, workLeft);

    // With very few features the examples are linearly dependent in small
    // groups already; smaller working sets solve more reliably.
    if (learnParams.totWords < learnParams.maxQpSize)
        learnParams.maxQpSize = std::max(learnParams.totWords, int32_t(2));

    if (code == QpResult::NanSolution) {
        r.linDepSensitivity *= 2.0;
        if (learnParams.maxQpSize > 2) --learnParams.maxQpSize;
        ++r.precisionViolations;
    }
    if (code != QpResult::PrimalOptimal) {
        code = solveReduced(qp, 1, true, r.precision, epsilonCrit, learnParams.epsilonA, r.maxIterations,
                            r.linDepSensitivity, workLeft);
        if (code != QpResult::PrimalOptimal) {
            if (code != QpResult::OneFreeVariable) ++r.precisionViolations;
            if (code == QpResult::MaxIterations) r.maxIterations += 100;
            if (code == QpResult::NanSolution) {
                r.linDepSensitivity *= 2.0;
                for (int32_t i = 0; i < qp.n; ++i) r.primal[size_t(i)] = qp.xinit[size_t(i)];
            }
        }
    }
    if (r.precisionViolations > 50) {
        r.precisionViolations = 0;
        epsilonCrit *= 10.0;
    }
    const bool hasThreshold = qp.m > 0 && code != QpResult::NanSolution;
    if (hasThreshold && !r.dualFresh) r.staleDualRead = true;
    threshold = hasThreshold ? r.dual[1] - r.dual[0] : 0.0;
    return r.primal.data();
}

void QpSolver::swapRowColumn(std::vector<double>& m, int32_t n, int32_t r1, int32_t r2) {
    if (r1 == r2) return;
    for (int32_t k = 0; k < n; ++k) std::swap(m[size_t(r1) * n + k], m[size_t(r2) * n + k]);
    for (int32_t k = 0; k < n; ++k) std::swap(m[size_t(k) * n + r1], m[size_t(k) * n + r2]);
}

void QpSolver::copyMatrix(const std::vector<double>& from, std::vector<double>& to, int32_t n) {
    std::copy(from.begin(), from.begin() + size_t(n) * n, to.begin());
}

void QpSolver::invertMatrix(std::vector<double>& d, int32_t n, double sensitivity, std::vector<int32_t>& flags,
                            std::vector<double>& inverse) {
    const size_t sn = size_t(n);
    for (size_t i = 0; i < sn; ++i)
        for (size_t j = 0; j < sn; ++j) inverse[i * sn + j] = i == j ? 1.0 : 0.0;
    // Forward elimination; a pivot below the sensitivity marks its variable
    // as linearly dependent on the earlier ones.
    for (size_t i = 0; i < sn; ++i) {
        if (flags[i] || std::fabs(d[i * sn + i]) < sensitivity) {
            flags[i] = 1;
            continue;
        }
        for (size_t j = i + 1; j < sn; ++j) {
            double f = d[j * sn + i] / d[i * sn + i];
            for (size_t k = i; k < sn; ++k) d[j * sn + k] -= f * d[i * sn + k];
            for (size_t k = 0; k < sn; ++k) inverse[j * sn + k] -= f * inverse[i * sn + k];
        }
    }
    // Backward substitution over the independent variables.
    for (size_t i = sn; i-- > 0;) {
        if (flags[i]) continue;
        double pivot = d[i * sn + i];
        for (size_t k = 0; k < sn; ++k) inverse[i * sn + k] /= pivot;
        d[i * sn + i] = 1.0;
        for (size_t j = 0; j < i; ++j) {
            double f = d[j * sn + i];
            d[j * sn + i] = 0.0;
            for (size_t k = 0; k < sn; ++k) inverse[j * sn + k] -= f * inverse[i * sn + k];
        }
    }
}

// The pivots are the variables that can move furthest against each other:
// the first has the smallest gradient ce_i (Gx + g0)_i among those that may
// move in the direction of -ce_i, the second the largest among those that
// may move with ce_i. When only one of them exists it takes both roles.
QpSolver::Pivots QpSolver::choosePivots(const QpSubproblem& qp, double epsilonA) const {
    const size_t sn = size_t(qp.n);
    const std::vector<double>& g = qp.g;
    int32_t b1 = -1, b2 = -1;
    double b1Value = 0.0, b2Value = 0.0;
    for (size_t i = 0; i < sn; ++i) {
        double s = qp.g0[i];
        for (size_t j = 0; j < sn; ++j) s += g[i * sn + j] * qp.xinit[j];
        s *= qp.ce[i];
        bool atLow = qp.xinit[i] <= qp.low[i] + epsilonA;
        bool atUp = qp.xinit[i] >= qp.up[i] - epsilonA;
        if (!(atLow && qp.ce[i] < 0) && !(atUp && qp.ce[i] > 0) && (b1 < 0 || s < b1Value)) {
            b1 = int32_t(i);
            b1Value = s;
        }
        if (!(atLow && qp.ce[i] > 0) && !(atUp && qp.ce[i] < 0) && (b2 < 0 || s > b2Value)) {
            b2 = int32_t(i);
            b2Value = s;
        }
    }
    if (b1 < 0 && b2 < 0) b1 = b2 = 0;
    else if (b1 < 0) b1 = b2;
    else if (b2 < 0) b2 = b1;
    return {b1, b2};
}

// Two identical examples as pivots make the Hessian singular: they are moved
// together so that the pair stays feasible, after which the remaining
// problem is well posed. Returns whether the start changed.
bool QpSolver::separateIdenticalPair(const QpSubproblem& qp, Pivots p, std::vector<double>& start) const {
    const size_t sn = size_t(qp.n), p1 = size_t(p.first), p2 = size_t(p.second);
    const std::vector<double>& g = qp.g;
    if (!(g[p1 * sn + p1] == -g[p1 * sn + p2] && -g[p1 * sn + p2] == g[p2 * sn + p2])) return false;
    if (qp.ce[p1] != qp.ce[p2]) {
        double t = std::min(qp.up[p1] - qp.xinit[p1], qp.up[p2] - qp.xinit[p2]);
        start[p1] = qp.xinit[p1] + t;
        start[p2] = qp.xinit[p2] + t;
    } else {
        double mean = (qp.xinit[p1] + qp.xinit[p2]) / 2.0;
        start[p1] = start[p2] = mean;
        if (start[p2] > qp.up[p2]) {
            start[p1] += start[p2] - qp.up[p2];
            start[p2] = qp.up[p2];
        }
        if (start[p1] > qp.up[p1]) {
            start[p2] += start[p1] - qp.up[p1];
            start[p1] = qp.up[p1];
        }
    }
    return true;
}

// The amount of ce ce' added to the Hessian when the pivots' 2x2 block is
// (nearly) singular: an empty diagonal or two dependent rows. 0 otherwise.
double QpSolver::pivotRegularisation(const QpSubproblem& qp, Pivots p, double sensitivity) const {
    const size_t sn = size_t(qp.n), p1 = size_t(p.first), p2 = size_t(p.second);
    const std::vector<double>& g = qp.g;
    if (std::fabs(g[p1 * sn + p1]) < sensitivity || std::fabs(g[p2 * sn + p2]) < sensitivity)
        return kAddEmptyDiagonal;
    if (std::fabs(g[p1 * sn + p1] / g[p1 * sn + p2] - g[p1 * sn + p2] / g[p2 * sn + p2]) < sensitivity)
        return kAddDependentPair;
    return 0.0;
}

// Inverts G + add ce ce' with the pivots moved to the front, so that the
// elimination keeps them independent, and flags the dependent variables
// (in a small round every variable but the pivots).
void QpSolver::invertWithPivotsFirst(const QpSubproblem& qp, Pivots p, double add, bool smallRound,
                                     double sensitivity) {
    CCompute_Result& r = state_;
    const int32_t n = qp.n;
    const size_t sn = size_t(n);
    std::vector<double>& d = r.d;
    copyMatrix(qp.g, d, n);
    if (add > 0.0)
        for (size_t i = 0; i < sn; ++i)
            for (size_t j = 0; j < sn; ++j) d[i * sn + j] += add * qp.ce[i] * qp.ce[j];

    const int32_t b1 = p.first;
    const int32_t second = p.second != 0 ? p.second : p.first;
    if (n > 2) {
        swapRowColumn(d, n, b1, 0);
        swapRowColumn(d, n, second, 1);
    }
    std::vector<int32_t>& flags = r.dependent;
    for (size_t i = 0; i < sn; ++i) flags[i] = (smallRound && i >= 2) ? 1 : 0;
    invertMatrix(d, n, sensitivity, flags, r.inverse);
    if (n > 2) {
        swapRowColumn(r.inverse, n, second, 1);
        std::swap(flags[size_t(second)], flags[1]);
        swapRowColumn(r.inverse, n, b1, 0);
        std::swap(flags[size_t(b1)], flags[0]);
    }
}

// The problem over the free variables: the regularised Hessian and linear
// term with the dependent variables fixed at their start, and the
// right-hand side of the equality that is left for the free ones.
void QpSolver::buildReducedProblem(const QpSubproblem& qp, double add) {
    CCompute_Result& r = state_;
    const size_t sn = size_t(qp.n);
    const std::vector<double>& g = qp.g;
    const std::vector<double>& start = r.start;
    const std::vector<int32_t>& flags = r.dependent;
    std::vector<double>& gReg = r.gReg;
    std::vector<double>& g0Reg = r.g0Reg;
    for (size_t i = 0; i < sn; ++i) {
        for (size_t j = 0; j < sn; ++j)
            gReg[i * sn + j] = g[i * sn + j] + (add > 0.0 ? add * qp.ce[i] * qp.ce[j] : 0.0);
        g0Reg[i] = qp.g0[i] + add * qp.ce0 * qp.ce[i];
    }
    double c = qp.m > 0 ? -qp.ce0 : 0.0;
    for (size_t i = 0; i < sn; ++i) {
        if (!flags[i]) continue;
        for (size_t j = 0; j < sn; ++j)
            if (!flags[j]) g0Reg[j] += gReg[i * sn + j] * start[i];
        if (qp.m > 0) c -= start[i] * qp.ce[i];
    }

    ReducedProblem& rp = r.reduced;
    int32_t k = 0;
    for (size_t i = 0; i < sn; ++i)
        if (!flags[i]) ++k;
    rp.k = k;
    rp.m = qp.m;
    rp.c = c;
    size_t ki = 0;
    const size_t sk = size_t(k);
    for (size_t i = 0; i < sn; ++i) {
        if (flags[i]) continue;
        rp.g0[ki] = g0Reg[i];
        rp.ce[ki] = qp.ce[i];
        rp.low[ki] = qp.low[i];
        rp.up[ki] = qp.up[i];
        rp.primal[ki] = start[i];
        size_t kj = 0;
        for (size_t j = 0; j < sn; ++j) {
            if (flags[j]) continue;
            rp.inverse[ki * sk + kj] = r.inverse[i * sn + j];
            rp.g[ki * sk + kj] = gReg[i * sn + j];
            ++kj;
        }
        ++ki;
    }
}

QpResult QpSolver::solveReduced(const QpSubproblem& qp, int goal, bool smallRound, double precision,
                                double epsilonCrit, double epsilonA, int32_t maxIterations, double sensitivity,
                                int64_t& workLeft) {
    CCompute_Result& r = state_;
    const int32_t n = qp.n;
    const int32_t m = qp.m;
    const size_t sn = size_t(n);
    if (n > r.allocated) allocate(n);
    if (n <= 0) {
        if (r.dual.size() >= 2) r.dual[0] = r.dual[1] = 0.0;
        r.dualFresh = true;
        return QpResult::PrimalOptimal;
    }

    const Pivots pivots = choosePivots(qp, epsilonA);
    std::vector<double>& start = r.start;
    for (size_t i = 0; i < sn; ++i) start[i] = qp.xinit[i];
    const bool changed = separateIdenticalPair(qp, pivots, start);
    double add = changed ? 0.0 : pivotRegularisation(qp, pivots, sensitivity);
    // The regularisation keeps the solution only on the equality's plane.
    if (m != 1) add = 0.0;
    invertWithPivotsFirst(qp, pivots, add, smallRound, sensitivity);
    buildReducedProblem(qp, add);

    ReducedProblem& rp = r.reduced;
    if (rp.k > 1 || m == 0 || changed) {
        const QpResult code = solveDual(rp, goal, precision, epsilonCrit, maxIterations, workLeft);
        const std::vector<int32_t>& flags = r.dependent;
        size_t ki = 0;
        for (size_t i = 0; i < sn; ++i) {
            if (!flags[i]) {
                r.primal[i] = rp.primal[ki++];
            } else {
                r.primal[i] = start[i];
                // Without the equality an empty example is free to sit at
                // its upper bound.
                if (m == 0 && qp.g[i * sn + i] == 0.0) r.primal[i] = qp.up[i];
            }
        }
        return code;
    }
    for (size_t i = 0; i < sn; ++i) r.primal[i] = qp.xinit[i];
    return QpResult::OneFreeVariable;
}

// The dual of the reduced problem (k free variables, H its inverse Hessian):
// one multiplier per box bound (up, then low) and, with the equality, one for
// each of its two sides. Its Hessian is the constraints mapped through H,
// its linear term the bounds and the right-hand side shifted by the
// unconstrained minimiser -H g0.
void QpSolver::buildDualProblem(const ReducedProblem& rp) {
    CCompute_Result& r = state_;
    const size_t k = size_t(rp.k);
    const int32_t m = rp.m;
    const size_t nd = 2 * (k + size_t(m));
    std::vector<double>& h = r.dualHessian;
    std::vector<double>& d0 = r.dualLinear;
    const std::vector<double>& ig = rp.inverse;
    const std::vector<double>& ce = rp.ce;

    for (size_t i = 0; i < nd * nd; ++i) h[i] = 0.0;
    for (size_t i = 0; i < k; ++i)
        for (size_t j = 0; j < k; ++j) {
            double v = ig[i * k + j];
            h[i * nd + j] = v;
            h[(k + i) * nd + (k + j)] = v;
            h[(k + i) * nd + j] = -v;
            h[i * nd + (k + j)] = -v;
        }
    if (m == 1) {
        double total = 0.0;
        for (size_t j = 0; j < k; ++j)
            for (size_t l = 0; l < k; ++l) total += ce[l] * ce[j] * ig[j * k + l];
        const size_t e0 = 2 * k, e1 = 2 * k + 1;
        for (size_t i = 0; i < k; ++i) {
            double s = 0.0;
            for (size_t j = 0; j < k; ++j) s += ce[j] * ig[i * k + j];
            h[i * nd + e0] = h[(k + i) * nd + e1] = h[e0 * nd + i] = h[e1 * nd + (k + i)] = s;
            h[i * nd + e1] = h[(k + i) * nd + e0] = h[e1 * nd + i] = h[e0 * nd + (k + i)] = -s;
        }
        h[e0 * nd + e0] = h[e1 * nd + e1] = total;
        h[e0 * nd + e1] = h[e1 * nd + e0] = -total;
    }
    for (size_t i = 0; i < k; ++i) {
        double w = 0.0;
        for (size_t j = 0; j < k; ++j) w += ig[i * k + j] * rp.g0[j];
        d0[i] = rp.up[i] + w;
        d0[k + i] = -rp.low[i] - w;
    }
    if (m == 1) {
        double s = 0.0;
        for (size_t j = 0; j < k; ++j)
            for (size_t l = 0; l < k; ++l) s += ce[l] * ig[l * k + j] * rp.g0[j];
        d0[2 * k] = rp.c + s;
        d0[2 * k + 1] = -rp.c - s;
    }
}

// One Gauss-Seidel sweep over the nd dual multipliers, each set to the
// minimiser of the dual along its own coordinate and projected onto >= 0.
// Returns the largest change.
double QpSolver::sweepDual(size_t nd) {
    const std::vector<double>& h = state_.dualHessian;
    const std::vector<double>& d0 = state_.dualLinear;
    std::vector<double>& dual = state_.dual;
    double maxviol = 0.0;
    for (size_t i = 0; i < nd; ++i) {
        double sum = d0[i];
        const double* row = &h[i * nd];
        for (size_t j = 0; j < nd; ++j)
            if (j != i) sum += row[j] * dual[j];
        double v = -sum / row[i];
        if (!(v > 0.0)) v = 0.0;
        maxviol = std::max(maxviol, std::fabs(v - dual[i]));
        dual[i] = v;
    }
    return maxviol;
}

// x = -H (g0 + dual_up - dual_low + ce (dual_e0 - dual_e1)).
void QpSolver::primalFromDual(ReducedProblem& rp) {
    const size_t k = size_t(rp.k);
    const std::vector<double>& dual = state_.dual;
    std::vector<double>& temp = state_.temp;
    for (size_t i = 0; i < k; ++i) {
        temp[i] = dual[i] - dual[k + i] + rp.g0[i];
        if (rp.m == 1) temp[i] += rp.ce[i] * (dual[2 * k] - dual[2 * k + 1]);
    }
    double* primal = rp.primal.data();
    for (size_t i = 0; i < k; ++i) {
        double x = 0.0;
        for (size_t j = 0; j < k; ++j) x += rp.inverse[i * k + j] * temp[j];
        primal[i] = -x;
    }
}

// dist_i = (G x + g0)_i - b ce_i + 1: the functional margin of each
// variable's example under threshold b.
void QpSolver::primalDistances(const ReducedProblem& rp, double b) {
    const size_t k = size_t(rp.k);
    std::vector<double>& dist = state_.dist;
    for (size_t i = 0; i < k; ++i) {
        double v = -b * rp.ce[i] + rp.g0[i] + 1.0;
        for (size_t j = 0; j < k; ++j) v += rp.primal[j] * rp.g[i * k + j];
        dist[i] = v;
    }
}

// Snaps values close to a bound onto it, with a width that grows with the
// largest violation seen, and checks the Karush-Kuhn-Tucker conditions of
// the snapped solution (and the equality). True when they hold.
bool QpSolver::snapAndCheck(ReducedProblem& rp, double b, double epsilonCrit) {
    const size_t k = size_t(rp.k);
    double* primal = rp.primal.data();
    const std::vector<double>& dist = state_.dist;
    primalDistances(rp, b);
    double epsilonHideo = kEpsilonHideo;
    for (size_t i = 0; i < k; ++i) {
        if (primal[i] < rp.up[i] - epsilonHideo && dist[i] < 1.0 - epsilonCrit)
            epsilonHideo = (rp.up[i] - primal[i]) * 2.0;
        else if (primal[i] > rp.low[i] + epsilonHideo && dist[i] > 1.0 + epsilonCrit)
            epsilonHideo = (primal[i] - rp.low[i]) * 2.0;
    }
    for (size_t i = 0; i < k; ++i) {
        if (primal[i] <= rp.low[i] + epsilonHideo) primal[i] = rp.low[i];
        else if (primal[i] >= rp.up[i] - epsilonHideo) primal[i] = rp.up[i];
    }

    bool optimal = true;
    primalDistances(rp, b);
    for (size_t i = 0; i < k; ++i)
        if ((primal[i] < rp.up[i] - 1e-15 && dist[i] < 1.0 - epsilonCrit) ||
            (primal[i] > rp.low[i] + 1e-15 && dist[i] > 1.0 + epsilonCrit))
            optimal = false;
    if (rp.m == 1) {
        double sum = 0.0;
        for (size_t i = 0; i < k; ++i) sum += rp.ce[i] * primal[i];
        if (std::fabs(sum - rp.c) > 0.00001) optimal = false;
    }
    return optimal;
}

// Solves the reduced problem
//   minimise 1/2 x'Gx + g0'x  over the k free variables
//   subject to low <= x <= up and, when m = 1, ce'x = c
// through its dual (Hildreth's method): sweeps until the multipliers settle
// within `precision`, recovers x, and when x violates the optimality
// conditions by more than epsilonCrit tightens the precision and sweeps on,
// up to maxIterations / 5 sweeps per round (more rounds for goal 1). Leaves
// x in rp.primal and, with the equality, the threshold as dual[1] - dual[0].
QpResult QpSolver::solveDual(ReducedProblem& rp, int goal, double precision, double epsilonCrit,
                             int32_t maxIterations, int64_t& workLeft) {
    CCompute_Result& r = state_;
    const size_t k = size_t(rp.k);
    const int32_t m = rp.m;
    const size_t nd = 2 * (k + size_t(m));
    std::vector<double>& dual = r.dual;

    for (size_t i = 0; i < nd; ++i) dual[i] = 0.0;
    r.dualFresh = true;
    buildDualProblem(rp);

    double* primal = rp.primal.data();
    double maxviol = 999999.0;
    int64_t iter = 0;
    bool retrain = true;
    bool optimal = false;
    int64_t factor = 1;
    const int64_t scale = maxIterations / 5;
    double p = precision;

    while (retrain && maxviol > 0.0 && iter < scale * factor && workLeft > 0) {
        ++iter;
        while (maxviol > p && iter < scale * factor && workLeft > 0) {
            ++iter;
            --workLeft;
            maxviol = sweepDual(nd);
        }

        primalFromDual(rp);
        for (size_t i = 0; i < k; ++i) {
            if (primal[i] <= rp.low[i]) primal[i] = rp.low[i];
            else if (primal[i] >= rp.up[i]) primal[i] = rp.up[i];
        }
        const double b = m == 1 ? dual[2 * k + 1] - dual[2 * k] : 0.0;
        optimal = snapAndCheck(rp, b, epsilonCrit);
        retrain = !optimal;
        if (retrain) {
            p /= 10.0;
            if ((goal == 1 && factor < 50000) || factor < 5) ++factor;
        }
    }

    if (!optimal) {
        primalFromDual(rp);
        for (size_t i = 0; i < k; ++i) {
            if (primal[i] <= rp.low[i] + 1e-15) primal[i] = rp.low[i];
            else if (primal[i] >= rp.up[i] - 1e-15) primal[i] = rp.up[i];
        }
    }

    if (m == 1) {
        // The equality duals go to the front: dual[1] - dual[0] is b.
        double e0 = dual[2 * k], e1 = dual[2 * k + 1];
        for (size_t i = 2 * k; i-- > 0;) dual[i + 2] = dual[i];
        dual[0] = e0;
        dual[1] = e1;
    }

    double check = 0.0;
    for (size_t i = 0; i < k; ++i) check += primal[i];
    if (m == 1) check += dual[0] + dual[1];
    if (std::isnan(check)) return QpResult::NanSolution;
    if (optimal) return QpResult::PrimalOptimal;
    if (maxviol == 0.0) return QpResult::DualOptimal;
    return QpResult::MaxIterations;
}

}  // namespace kestrel
