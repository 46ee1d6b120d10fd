// The quadratic subproblem solver of SVM training: inverts the (regularised)
// Hessian of the working set and runs Hildreth's projected Gauss-Seidel
// iteration on the dual of the box and equality constraints. A driver
// retries with a reduced two-variable problem and adapts the solver's
// tolerances over the whole life of the CSVM object.
#include <algorithm>
#include <cmath>

#include "classify/svm/CSVM.h"

namespace kestrel {

namespace {

// Initial snap width of the primal solution.
constexpr double kEpsilonHideo = 1e-20;
// Regularisation added to a two-variable pivot whose Hessian is (nearly) singular.
constexpr double kAddEmptyDiagonal = 0.093274;
constexpr double kAddDependentPair = 0.078274;

}  // namespace

void CSVM::allocateSolverBuffers(int32_t nx) {
    CCompute_Result& r = result;
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

const double* CSVM::solveSubproblem(const QpSubproblem& qp, double& epsilonCrit, int32_t nx,
                                    double& threshold, LearnParams& learnParams) {
    CCompute_Result& r = result;
    r.largestRequest = std::max(r.largestRequest, qp.n);
    if (r.allocated == 0) {
        allocateSolverBuffers(std::max(nx, qp.n));
        threshold = 0.0;
    } else if (qp.n > r.allocated) {
        allocateSolverBuffers(qp.n);
    }

    int code = solveReduced(qp, 0, false, r.precision, epsilonCrit, learnParams.epsilonA,
                            r.maxIterations, r.linDepSensitivity);

    // With very few features the examples are linearly dependent in small
    // groups already; smaller working sets solve more reliably.
    if (learnParams.totWords < learnParams.maxQpSize)
        learnParams.maxQpSize = std::max(learnParams.totWords, int32_t(2));

    if (code == kNanSolution) {
        r.linDepSensitivity *= 2.0;
        if (learnParams.maxQpSize > 2) --learnParams.maxQpSize;
        ++r.precisionViolations;
    }
    if (code != kPrimalOptimal) {
        code = solveReduced(qp, 1, true, r.precision, epsilonCrit, learnParams.epsilonA,
                            r.maxIterations, r.linDepSensitivity);
        if (code != kPrimalOptimal) {
            if (code != kOneFreeVariable) ++r.precisionViolations;
            if (code == kMaxIterations) r.maxIterations += 100;
            if (code == kNanSolution) {
                r.linDepSensitivity *= 2.0;
                for (int32_t i = 0; i < qp.n; ++i) r.primal[size_t(i)] = qp.xinit[size_t(i)];
            }
        }
    }
    if (r.precisionViolations > 50) {
        r.precisionViolations = 0;
        epsilonCrit *= 10.0;
    }
    if (qp.m > 0 && code != kNanSolution && !r.dualFresh) r.staleDualRead = true;
    threshold = (qp.m > 0 && code != kNanSolution) ? r.dual[1] - r.dual[0] : 0.0;
    return r.primal.data();
}

void CSVM::swapRowColumn(std::vector<double>& m, int32_t n, int32_t r1, int32_t r2) {
    if (r1 == r2) return;
    for (int32_t k = 0; k < n; ++k) std::swap(m[size_t(r1) * n + k], m[size_t(r2) * n + k]);
    for (int32_t k = 0; k < n; ++k) std::swap(m[size_t(k) * n + r1], m[size_t(k) * n + r2]);
}

void CSVM::copyMatrix(const std::vector<double>& from, std::vector<double>& to, int32_t n) {
    std::copy(from.begin(), from.begin() + size_t(n) * n, to.begin());
}

void CSVM::invertMatrix(std::vector<double>& d, int32_t n, double sensitivity,
                        std::vector<int32_t>& flags, std::vector<double>& inverse) {
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

int CSVM::solveReduced(const QpSubproblem& qp, int goal, bool smallRound, double precision,
                       double epsilonCrit, double epsilonA, int32_t maxIterations,
                       double sensitivity) {
    CCompute_Result& r = result;
    const int32_t n = qp.n;
    const int32_t m = qp.m;
    const size_t sn = size_t(n);
    if (n > r.allocated) allocateSolverBuffers(n);
    if (n <= 0) {
        if (r.dual.size() >= 2) r.dual[0] = r.dual[1] = 0.0;
        r.dualFresh = true;
        return kPrimalOptimal;
    }
    const std::vector<double>& g = qp.g;

    // Pivots: the variables that can move furthest against each other.
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
    // No variable may move one way: use the pivot that exists for both roles.
    if (b1 < 0 && b2 < 0) b1 = b2 = 0;
    else if (b1 < 0) b1 = b2;
    else if (b2 < 0) b2 = b1;
    const size_t p1 = size_t(b1), p2 = size_t(b2);

    std::vector<double>& start = r.start;
    for (size_t i = 0; i < sn; ++i) start[i] = qp.xinit[i];
    bool changed = false;
    double add = 0.0;
    if (g[p1 * sn + p1] == -g[p1 * sn + p2] && -g[p1 * sn + p2] == g[p2 * sn + p2]) {
        // Two identical examples: move them together so that the pair stays
        // feasible, then the remaining problem is well posed.
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
        changed = true;
    } else if (std::fabs(g[p1 * sn + p1]) < sensitivity || std::fabs(g[p2 * sn + p2]) < sensitivity) {
        add = kAddEmptyDiagonal;
    } else if (std::fabs(g[p1 * sn + p1] / g[p1 * sn + p2] - g[p1 * sn + p2] / g[p2 * sn + p2]) <
               sensitivity) {
        add = kAddDependentPair;
    }

    std::vector<double>& d = r.d;
    copyMatrix(g, d, n);
    if (m == 1 && add > 0.0) {
        for (size_t i = 0; i < sn; ++i)
            for (size_t j = 0; j < sn; ++j) d[i * sn + j] += add * qp.ce[i] * qp.ce[j];
    } else {
        add = 0.0;
    }

    // Put the pivots first so that the elimination keeps them independent.
    int32_t p = b2 != 0 ? b2 : b1;
    if (n > 2) {
        swapRowColumn(d, n, b1, 0);
        swapRowColumn(d, n, p, 1);
    }
    std::vector<int32_t>& flags = r.dependent;
    for (size_t i = 0; i < sn; ++i) flags[i] = (smallRound && i >= 2) ? 1 : 0;
    std::vector<double>& inverse = r.inverse;
    invertMatrix(d, n, sensitivity, flags, inverse);
    if (n > 2) {
        swapRowColumn(inverse, n, p, 1);
        std::swap(flags[size_t(p)], flags[1]);
        swapRowColumn(inverse, n, b1, 0);
        std::swap(flags[p1], flags[0]);
    }

    // Regularised problem with the dependent variables fixed at their start.
    std::vector<double>& gReg = r.gReg;
    std::vector<double>& g0Reg = r.g0Reg;
    for (size_t i = 0; i < sn; ++i) {
        for (size_t j = 0; j < sn; ++j)
            gReg[i * sn + j] = g[i * sn + j] + (add > 0.0 ? add * qp.ce[i] * qp.ce[j] : 0.0);
        g0Reg[i] = qp.g0[i] + add * qp.ce0 * qp.ce[i];
    }
    double c = m > 0 ? -qp.ce0 : 0.0;
    for (size_t i = 0; i < sn; ++i) {
        if (!flags[i]) continue;
        for (size_t j = 0; j < sn; ++j)
            if (!flags[j]) g0Reg[j] += gReg[i * sn + j] * start[i];
        if (m > 0) c -= start[i] * qp.ce[i];
    }

    ReducedProblem& rp = r.reduced;
    int32_t k = 0;
    for (size_t i = 0; i < sn; ++i)
        if (!flags[i]) ++k;
    rp.k = k;
    rp.m = m;
    rp.c = c;
    {
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
                rp.inverse[ki * sk + kj] = inverse[i * sn + j];
                rp.g[ki * sk + kj] = gReg[i * sn + j];
                ++kj;
            }
            ++ki;
        }
    }

    if ((n > 0 && k > 1) || m == 0 || changed) {
        int code = solveDual(rp, goal, precision, epsilonCrit, maxIterations);
        size_t ki = 0;
        for (size_t i = 0; i < sn; ++i) {
            if (!flags[i]) {
                r.primal[i] = rp.primal[ki++];
            } else {
                r.primal[i] = start[i];
                // Without the equality an empty example is free to sit at
                // its upper bound.
                if (m == 0 && g[i * sn + i] == 0.0) r.primal[i] = qp.up[i];
            }
        }
        return code;
    }
    for (size_t i = 0; i < sn; ++i) r.primal[i] = qp.xinit[i];
    return kOneFreeVariable;
}

int CSVM::solveDual(ReducedProblem& rp, int goal, double precision, double epsilonCrit,
                    int32_t maxIterations) {
    CCompute_Result& r = result;
    const size_t k = size_t(rp.k);
    const int32_t m = rp.m;
    const size_t nd = 2 * (k + size_t(m));
    std::vector<double>& h = r.dualHessian;
    std::vector<double>& d0 = r.dualLinear;
    std::vector<double>& dual = r.dual;
    const std::vector<double>& ig = rp.inverse;
    const std::vector<double>& ce = rp.ce;

    for (size_t i = 0; i < nd; ++i) dual[i] = 0.0;
    r.dualFresh = true;
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

    std::vector<double>& temp = r.temp;
    std::vector<double>& dist = r.dist;
    double* primal = rp.primal.data();
    double maxviol = 999999.0;
    int64_t iter = 0;
    bool retrain = true;
    bool optimal = false;
    int64_t factor = 1;
    const int64_t scale = maxIterations / 5;
    double p = precision;

    auto computePrimal = [&]() {
        for (size_t i = 0; i < k; ++i) {
            temp[i] = dual[i] - dual[k + i] + rp.g0[i];
            if (m == 1) temp[i] += ce[i] * (dual[2 * k] - dual[2 * k + 1]);
        }
        for (size_t i = 0; i < k; ++i) {
            double x = 0.0;
            for (size_t j = 0; j < k; ++j) x += ig[i * k + j] * temp[j];
            primal[i] = -x;
        }
    };
    auto computeDist = [&](double b) {
        for (size_t i = 0; i < k; ++i) {
            double v = -b * ce[i] + rp.g0[i] + 1.0;
            for (size_t j = 0; j < k; ++j) v += primal[j] * rp.g[i * k + j];
            dist[i] = v;
        }
    };

    while (retrain && maxviol > 0.0 && iter < scale * factor && workLeft_ > 0) {
        ++iter;
        while (maxviol > p && iter < scale * factor && workLeft_ > 0) {
            ++iter;
            --workLeft_;
            maxviol = 0.0;
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
        }

        computePrimal();
        for (size_t i = 0; i < k; ++i) {
            if (primal[i] <= rp.low[i]) primal[i] = rp.low[i];
            else if (primal[i] >= rp.up[i]) primal[i] = rp.up[i];
        }
        double b = m == 1 ? dual[2 * k + 1] - dual[2 * k] : 0.0;

        // Snap values close to a bound onto it, with a width that grows with
        // the largest violation seen.
        computeDist(b);
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

        // Karush-Kuhn-Tucker check of the snapped solution.
        retrain = false;
        optimal = true;
        computeDist(b);
        for (size_t i = 0; i < k; ++i) {
            if ((primal[i] < rp.up[i] - 1e-15 && dist[i] < 1.0 - epsilonCrit) ||
                (primal[i] > rp.low[i] + 1e-15 && dist[i] > 1.0 + epsilonCrit)) {
                retrain = true;
                optimal = false;
            }
        }
        if (m == 1) {
            double sum = 0.0;
            for (size_t i = 0; i < k; ++i) sum += ce[i] * primal[i];
            if (std::fabs(sum - rp.c) > 0.00001) {
                retrain = true;
                optimal = false;
            }
        }
        if (retrain) {
            p /= 10.0;
            if ((goal == 1 && factor < 50000) || factor < 5) ++factor;
        }
    }

    if (!optimal) {
        computePrimal();
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
    if (std::isnan(check)) return kNanSolution;
    if (optimal) return kPrimalOptimal;
    if (maxviol == 0.0) return kDualOptimal;
    return kMaxIterations;
}

}  // namespace kestrel
