#pragma once
// The SVM engine as the pipeline controller sees it: one-versus-rest training
// of one category's model from a vector file, and scoring of a vector file
// with one model file.
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

// The values of params.dat that the engine uses.
struct SvmSettings {
    int biased = 1;           // 1: decision function with threshold b; 0: b fixed at 0
    int kernelType = 0;       // 0 linear, 1 polynomial, 2 radial basis, 3 sigmoid
    double tolerance = 0.001; // carried for the dialog's value
    long degree = 1;          // polynomial degree d
    double gamma = 1.0;       // radial basis width g
    double coefS = 1.0;       // factor s of the dot product
    double coefC = 0.0;       // additive constant c
};

class SvmEngine {
public:
    virtual ~SvmEngine() = default;

    virtual void setSettings(const SvmSettings& settings) = 0;

    // Trains the model of category number `category` (1-based: label
    // `category` is +1, every other non-zero label -1) from trainFile and
    // writes it to modelFile. On failure returns false with a message naming
    // the category and the file; no model file is left behind for it.
    virtual bool learn(const std::string& trainFile, const std::string& modelFile,
                       unsigned category, std::string& error) = 0;

    // Scores every document line of inputFile with the model in modelFile:
    // values[n] receives the decision value of the n-th document (values is
    // resized to the number of documents). On failure returns false with a
    // message; values then stays all zeros.
    virtual bool classifyFile(const std::string& inputFile, const std::string& modelFile,
                              std::vector<double>& values, std::string& error) = 0;

    // Notes of the last learn or classifyFile that did not make it fail
    // (skipped or unlabelled lines, an iteration cap reached); empty when none.
    virtual std::string lastWarning() const { return {}; }
};

// The SVM engine of this build, or nullptr when none is built in.
std::unique_ptr<SvmEngine> makeSvmEngine();

}  // namespace kestrel
