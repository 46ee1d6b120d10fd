#pragma once
// In-memory records of the SVM engine: sparse vectors, documents, kernel
// parameters, trained models and the parameters of one training.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "features/DocumentVector.h"

namespace kestrel {

// The engine works on the project's one document-vector type.
using SvmWord = VectorEntry;
using SvmDoc = DocumentVector;

// The kernels, numbered as model files and parameter records keep them.
enum class KernelType : int32_t {
    Linear = 0,
    Polynomial = 1,
    RadialBasis = 2,
    Sigmoid = 3,
    Custom = 4,  // user-defined: needs both vectors, not just their dot product
};

// The kernel of a stored number; none for a number that names no kernel.
inline std::optional<KernelType> kernelTypeOf(long number) {
    if (number < long(KernelType::Linear) || number > long(KernelType::Custom)) return std::nullopt;
    return KernelType(number);
}
inline int32_t kernelNumber(KernelType type) { return int32_t(type); }
// Whether the kernel's value follows from the dot product of its two vectors
// (and their norms) alone.
inline bool isDotProductKernel(KernelType type) { return type != KernelType::Custom; }

struct KernelParams {
    KernelType kernelType = KernelType::Linear;
    int32_t degree = 1;     // polynomial degree d
    double gamma = 1.0;     // radial basis width g
    double coefLin = 1.0;   // factor s of the dot product
    double coefConst = 0.0; // additive constant c (-r in the model file)
    std::string customText = "EmptyParam";  // read from model files, never interpreted
};

// One trained binary classifier.
struct SvmModel {
    int32_t svNum = 0;                    // support-vector count plus one
    double b = 0.0;                       // threshold
    std::vector<const SvmDoc*> supvec;    // slot 0 unused
    std::vector<double> alpha;            // coefficient alpha_i * y_i of each support vector
    std::vector<int32_t> index;           // training document -> slot, -1 when not a support vector
    int32_t totWords = 0;                 // highest feature index
    int32_t totDoc = 0;                   // number of training documents
    KernelParams kernel;

    // Dense weight vector of a linear model (indices 0 .. totWords), filled by
    // addLinearWeights. When the highest feature index is too large for a
    // dense array the same weights are kept as a sorted sparse list instead.
    std::vector<double> linWeights;
    std::vector<SvmWord> sparseWeights;
    bool hasLinearWeights = false;

    // Support vectors created by readModel (the model owns those); after
    // training the table points into the training documents instead.
    std::vector<std::unique_ptr<SvmDoc>> ownedDocs;

    // Number of support vectors.
    int32_t supportVectorCount() const { return svNum > 0 ? svNum - 1 : 0; }
};

// Parameters of one training, built by learn from the parameter record.
struct LearnParams {
    double svmC = 0.0;            // upper bound of the multipliers; 0: 1/r^2
    double costRatio = 1.0;       // factor on C for positive examples
    int32_t biasedHyperplane = 1;
    int32_t maxQpSize = 10;       // working-set size q_max
    int32_t newVarsInQp = 10;     // new variables per iteration q_new
    double epsilonCrit = 0.001;   // termination tolerance
    double epsilonShrink = 2.0;   // shrinking tolerance (internal)
    double epsilonA = 1e-15;      // multiplier-at-bound tolerance
    int32_t shrinkHorizon = 100;
    int32_t skipFinalOptCheck = 1;
    int32_t linearStart = 1;      // linear kernel: start from a coordinate-descent solution (0: from 0)
    int32_t totWords = 0;         // highest feature index
    std::vector<double> svmCost;  // per-example upper bound C_i
};

// A quadratic subproblem over the working set:
// minimise 1/2 x'Gx + g0'x subject to low <= x <= up and, when m = 1,
// ce'x + ce0 = 0.
struct QpSubproblem {
    int32_t n = 0;
    int32_t m = 0;
    std::vector<double> ce;
    double ce0 = 0.0;
    std::vector<double> g;    // n x n, row-major
    std::vector<double> g0;
    std::vector<double> xinit;
    std::vector<double> low;
    std::vector<double> up;

    void resize(int32_t size) {
        n = size;
        ce.assign(size, 0.0);
        g.assign(size_t(size) * size, 0.0);
        g0.assign(size, 0.0);
        xinit.assign(size, 0.0);
        low.assign(size, 0.0);
        up.assign(size, 0.0);
    }
};

// How a subproblem solve ended.
enum class QpResult {
    PrimalOptimal = 1,
    DualOptimal = 2,
    MaxIterations = 3,
    NanSolution = 4,
    OneFreeVariable = 5,  // one free variable under the equality: nothing to solve
};

}  // namespace kestrel
