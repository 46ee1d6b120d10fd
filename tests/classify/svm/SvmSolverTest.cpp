// The quadratic subproblem solver.
#include <cmath>

#include "SvmTestUtil.h"
#include "classify/svm/QpSolver.h"

namespace kestrel {
namespace {

QpSubproblem problem(int32_t n, int32_t m) {
    QpSubproblem qp;
    qp.resize(n);
    qp.m = m;
    for (int32_t i = 0; i < n; ++i) qp.up[size_t(i)] = 1.0;
    return qp;
}

TEST(SvmSolver, InvertsAndFlagsDependentVariables) {
    std::vector<double> d = {4, 1, 0, 1, 3, 1, 0, 1, 2};
    std::vector<double> inverse(9);
    std::vector<int32_t> flags(3, 0);
    std::vector<double> original = d;
    QpSolver::invertMatrix(d, 3, 1e-8, flags, inverse);
    EXPECT_EQ(flags, (std::vector<int32_t>{0, 0, 0}));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double v = 0;
            for (int k = 0; k < 3; ++k) v += original[size_t(i * 3 + k)] * inverse[size_t(k * 3 + j)];
            EXPECT_NEAR(v, i == j ? 1.0 : 0.0, 1e-12);
        }
    // The third row is the sum of the first two: it is flagged.
    d = {1, 1, 2, 1, 2, 3, 2, 3, 5};
    flags.assign(3, 0);
    QpSolver::invertMatrix(d, 3, 1e-8, flags, inverse);
    EXPECT_EQ(flags, (std::vector<int32_t>{0, 0, 1}));
}

TEST(SvmSolver, UnbiasedProblemHasThresholdZero) {
    QpSolver svm;
    QpSubproblem qp = problem(2, 0);
    qp.g = {1, 0, 0, 1};
    qp.g0 = {-0.5, -2.0};
    LearnParams lp;
    lp.totWords = 100;
    double eps = 0.001, b = 7.0;
    int64_t workLeft = 1000000;
    const double* x = svm.solve(qp, eps, 10, b, lp, workLeft);
    EXPECT_EQ(b, 0.0);
    EXPECT_NEAR(x[0], 0.5, 1e-3);   // interior optimum
    EXPECT_NEAR(x[1], 1.0, 1e-12);  // clipped at the upper bound
}

TEST(SvmSolver, IdenticalPairWithOppositeTargetsGrowsTogether) {
    QpSolver svm;
    QpSubproblem qp = problem(2, 1);
    qp.g = {1, -1, -1, 1};   // y1 y2 K with K = 1 everywhere, targets +1 / -1
    qp.ce = {1, -1};
    qp.g0 = {-1, -1};
    qp.up = {0.8, 0.5};
    qp.xinit = {0.1, 0.1};
    LearnParams lp;
    lp.totWords = 100;
    double eps = 0.001, b = 0.0;
    int64_t workLeft = 1000000;
    const double* x = svm.solve(qp, eps, 10, b, lp, workLeft);
    // The pair moves by the smaller room (0.4) and stays feasible.
    EXPECT_NEAR(x[0] - x[1], 0.0, 1e-5);
    EXPECT_NEAR(x[1], 0.5, 1e-9);
}

TEST(SvmSolver, OneFreeVariableWithEqualityKeepsStartValues) {
    QpSolver svm;
    QpSubproblem qp = problem(1, 1);
    qp.g = {2.0};
    qp.ce = {1};
    qp.g0 = {-1};
    qp.xinit = {0.25};
    int64_t workLeft = 1000000;
    EXPECT_EQ(svm.solveReduced(qp, 1, true, 1e-5, 0.001, 1e-15, 200, 1e-8, workLeft), QpResult::OneFreeVariable);
    EXPECT_EQ(svm.state().primal[0], 0.25);
}

TEST(SvmSolver, WorkingSetShrinksForTinyFeatureIndices) {
    for (auto [totWords, expected] : {std::pair{3, 3}, std::pair{1, 2}, std::pair{50, 10}}) {
        QpSolver svm;
        QpSubproblem qp = problem(2, 1);
        qp.g = {2, 1, 1, 2};
        qp.ce = {1, -1};
        qp.g0 = {-1, -1};
        LearnParams lp;
        lp.totWords = totWords;
        double eps = 0.001, b = 0.0;
        int64_t workLeft = 1000000;
        svm.solve(qp, eps, 10, b, lp, workLeft);
        EXPECT_EQ(lp.maxQpSize, expected) << totWords;
    }
}

}  // namespace
}  // namespace kestrel
