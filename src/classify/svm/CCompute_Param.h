#pragma once
// The SVM engine's parameter record: the values the controller fills from
// params.dat, the fixed training settings, and the file names of the current
// training and classification.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "classify/SvmEngine.h"

namespace kestrel {

class CCompute_Param {
public:
    CCompute_Param() = default;
    virtual ~CCompute_Param() = default;

    // Takes the values of params.dat; the training settings stay.
    void setSettings(const SvmSettings& settings) {
        biasedHyperplane = settings.biased;
        kernelType = settings.kernelType;
        tolerance = settings.tolerance;
        degree = int32_t(std::clamp<long>(settings.degree, INT32_MIN, INT32_MAX));
        gamma = settings.gamma;
        coefLin = settings.coefS;
        coefConst = settings.coefC;
    }

    double svmC = 0.0;             // upper bound of the multipliers; 0: 1/r^2
    double costRatio = 1.0;        // factor on C for positive examples
    int32_t biasedHyperplane = 1;  // 1: threshold b; 0: b fixed at 0
    int32_t kernelType = 0;        // 0 linear, 1 polynomial, 2 radial basis, 3 sigmoid, 4 custom
    int32_t degree = 1;            // polynomial degree d
    double gamma = 1.0;            // radial basis width g
    double coefLin = 1.0;          // factor s of the dot product
    double coefConst = 0.0;        // additive constant c
    int32_t maxQpSize = 10;        // largest subproblem
    int32_t newVarsInQp = 10;      // new variables per iteration
    int32_t kernelCacheSize = 40;  // megabytes of kernel cache for non-linear kernels
    double tolerance = 0.001;      // the dialog's value; training does not read it
    int32_t shrinkHorizon = 100;   // iterations before an example may be shrunk
    int32_t skipFinalOptCheck = 1;
    int32_t linearStart = 1;       // linear kernel: start from a coordinate-descent solution (0: from 0)

    std::string trainFile;         // train.dat
    std::string modelFile;         // the current model file
    std::string inputFile;         // test.dat or example.dat
};

}  // namespace kestrel
