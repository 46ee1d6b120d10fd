#pragma once
// State of the quadratic subproblem solver (QpSolver), which lives as long as
// the CSVM that owns it: its buffers (allocated at the first solve, then
// reused) and the tuning values it adapts over every training of its life.
#include <cstdint>
#include <vector>

namespace kestrel {

// The subproblem after fixing the dependent variables: what the dual
// iteration works on.
struct ReducedProblem {
    int32_t k = 0;               // free variables
    int32_t m = 0;               // equality constraints (0 or 1)
    double c = 0.0;              // right-hand side of the equality
    std::vector<double> g;       // k x k Hessian (regularised)
    std::vector<double> g0;      // linear term
    std::vector<double> ce;
    std::vector<double> low, up;
    std::vector<double> inverse; // k x k inverse of the Hessian
    std::vector<double> primal;  // solution (k)
};

class CCompute_Result {
public:
    CCompute_Result() = default;
    virtual ~CCompute_Result() = default;

    // Buffers for problems of up to `allocated` variables (0: not yet).
    int32_t allocated = 0;
    std::vector<double> primal;      // nx
    std::vector<double> dual;        // 2 (nx + 1)
    std::vector<int32_t> dependent;  // nx flags
    // Work areas of the reduced solve and of the dual iteration.
    std::vector<double> start, d, inverse, gReg, g0Reg, dualHessian, dualLinear, temp, dist;
    ReducedProblem reduced;

    double precision = 0.00001;
    int32_t maxIterations = 200;
    double linDepSensitivity = 1e-8;
    int32_t precisionViolations = 0;

    // Bookkeeping of the current training, no input of the solver: it tells
    // which of the values above a training depended on, so that a training
    // run from a predicted state can be checked against the state it would
    // really have started from. dual[0] and dual[1] give the threshold of a
    // solve that ends without a dual iteration; dualFresh says they were
    // last written by a solve of this training (not by an earlier training,
    // nor zeroed by an allocation), staleDualRead that a threshold was taken
    // while they were not. largestRequest is the largest subproblem solved.
    bool dualFresh = false;
    bool staleDualRead = false;
    int32_t largestRequest = 0;

    // Starts the bookkeeping of a new training.
    void beginTraining() {
        dualFresh = false;
        staleDualRead = false;
        largestRequest = 0;
    }
};

}  // namespace kestrel
