#include "classify/svm/CsvmEngine.h"

#include <algorithm>
#include <climits>

namespace kestrel {

void CsvmEngine::setSettings(const SvmSettings& settings) {
    CCompute_Param& p = svm_.param;
    p.biasedHyperplane = settings.biased;
    p.kernelType = settings.kernelType;
    p.tolerance = settings.tolerance;
    p.degree = int32_t(std::clamp<long>(settings.degree, INT32_MIN, INT32_MAX));
    p.gamma = settings.gamma;
    p.coefLin = settings.coefS;
    p.coefConst = settings.coefC;
}

bool CsvmEngine::learn(const std::string& trainFile, const std::string& modelFile,
                       unsigned category, std::string& error) {
    svm_.param.trainFile = trainFile;
    svm_.param.modelFile = modelFile;
    if (category == 0 || category > unsigned(INT_MAX)) {
        error = "invalid category number " + std::to_string(category);
        return false;
    }
    if (svm_.learn(int(category)) != 0) {
        error = svm_.lastError();
        return false;
    }
    return true;
}

bool CsvmEngine::classifyFile(const std::string& inputFile, const std::string& modelFile,
                              std::vector<double>& values, std::string& error) {
    svm_.param.inputFile = inputFile;
    svm_.param.modelFile = modelFile;
    if (svm_.classifyFile(values) != 0) {
        error = svm_.lastError();
        return false;
    }
    // A line that is not a vector cannot be scored; the controller maps
    // values to documents by position, so the file is refused as a whole.
    if (svm_.lastReport().rejected) {
        error = "cannot classify: " + svm_.lastWarning();
        std::fill(values.begin(), values.end(), 0.0);
        return false;
    }
    return true;
}

}  // namespace kestrel
