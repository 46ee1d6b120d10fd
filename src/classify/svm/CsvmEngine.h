#pragma once
// The controller's SVM engine: one CSVM for the engine's whole life, so the
// solver's tuning values carry over from one training to the next.
#include <string>
#include <vector>

#include "classify/SvmEngine.h"
#include "classify/svm/CSVM.h"

namespace kestrel {

class CsvmEngine : public SvmEngine {
public:
    void setSettings(const SvmSettings& settings) override;
    bool learn(const std::string& trainFile, const std::string& modelFile, unsigned category,
               std::string& error) override;
    bool classifyFile(const std::string& inputFile, const std::string& modelFile,
                      std::vector<double>& values, std::string& error) override;

    // Notes of the last call that did not make it fail (skipped or unlabeled
    // training lines), empty when none.
    std::string lastWarning() const override { return svm_.lastWarning(); }
    CSVM& svm() { return svm_; }

private:
    CSVM svm_;
};

}  // namespace kestrel
