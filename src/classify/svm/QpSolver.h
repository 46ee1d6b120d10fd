#pragma once
// The quadratic subproblem solver of SVM training. It keeps its buffers and
// the tolerances it adapts in a CCompute_Result that lives as long as the
// solver, across every training it serves.
#include <cstdint>
#include <vector>

#include "classify/svm/CCompute_Result.h"
#include "classify/svm/SvmTypes.h"

namespace kestrel {

class QpSolver {
public:
    // Solves the working set's subproblem
    //   minimise 1/2 x'Gx + g0'x  over x in R^n
    //   subject to low <= x <= up and, when qp.m = 1, ce'x + ce0 = 0,
    // first with every variable free to move, then, if that is not primal
    // optimal, with two pivot variables free and the rest fixed at their
    // start. Returns the solution (n values, valid until the next call) and
    // sets `threshold` to the multiplier of the equality (the hyperplane's
    // b; 0 without it). Adapts the solver's tolerances and may raise
    // epsilonCrit or lower learnParams.maxQpSize for the rest of the
    // training. nx is the largest subproblem the buffers are first made for.
    // Each sweep of the dual iteration costs one unit of workLeft; at zero
    // the solve ends where it is.
    const double* solve(const QpSubproblem& qp, double& epsilonCrit, int32_t nx, double& threshold,
                        LearnParams& learnParams, int64_t& workLeft);

    // One attempt of solve: fixes the variables that the elimination finds
    // linearly dependent (or, in a small round, all but the two pivots) at
    // their start and solves the rest by its dual. goal 1 lets the dual
    // iteration run longer. The solution is left in state().primal.
    QpResult solveReduced(const QpSubproblem& qp, int goal, bool smallRound, double precision,
                          double epsilonCrit, double epsilonA, int32_t maxIterations, double sensitivity,
                          int64_t& workLeft);

    // The buffers and tuning values, as a training run ahead on another
    // solver takes them over (see CsvmEngine::learnAll).
    const CCompute_Result& state() const { return state_; }
    void setState(const CCompute_Result& state) { state_ = state; }
    // Starts the bookkeeping of a new training (see CCompute_Result).
    void beginTraining() { state_.beginTraining(); }
    // Sets the buffers to problems of up to n variables, keeping the
    // threshold values dual[0] and dual[1] and their bookkeeping.
    void resizeBuffers(int32_t n);

    // Gauss-Jordan inversion without pivoting; a pivot below the sensitivity
    // (or an already flagged one) flags its variable as dependent.
    static void invertMatrix(std::vector<double>& d, int32_t n, double sensitivity,
                             std::vector<int32_t>& flags, std::vector<double>& inverse);
    static void swapRowColumn(std::vector<double>& m, int32_t n, int32_t r1, int32_t r2);
    static void copyMatrix(const std::vector<double>& from, std::vector<double>& to, int32_t n);

private:
    struct Pivots {
        int32_t first = 0, second = 0;
    };
    Pivots choosePivots(const QpSubproblem& qp, double epsilonA) const;
    bool separateIdenticalPair(const QpSubproblem& qp, Pivots p, std::vector<double>& start) const;
    double pivotRegularisation(const QpSubproblem& qp, Pivots p, double sensitivity) const;
    void invertWithPivotsFirst(const QpSubproblem& qp, Pivots p, double add, bool smallRound,
                               double sensitivity);
    void buildReducedProblem(const QpSubproblem& qp, double add);

    QpResult solveDual(ReducedProblem& rp, int goal, double precision, double epsilonCrit,
                       int32_t maxIterations, int64_t& workLeft);
    void buildDualProblem(const ReducedProblem& rp);
    double sweepDual(size_t nd);
    void primalFromDual(ReducedProblem& rp);
    void primalDistances(const ReducedProblem& rp, double b);
    bool snapAndCheck(ReducedProblem& rp, double b, double epsilonCrit);

    void allocate(int32_t nx);

    CCompute_Result state_;
};

}  // namespace kestrel
