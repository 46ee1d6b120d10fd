#pragma once
// The SVM engine as the pipeline controller sees it: one-versus-rest training
// of one category's model from a vector file, and scoring of a vector file
// with one model file.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "features/DocumentVector.h"

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

    // Scores documents already in memory, the document lines of inputFile
    // (which they were read from or written to), with the model in
    // modelFile, as classifyFile does. An engine that cannot score documents
    // in memory reads inputFile instead.
    virtual bool classifyDocuments(const std::vector<DocumentVector>& docs, const std::string& inputFile,
                                   const std::string& modelFile, std::vector<double>& values, std::string& error) {
        (void)docs;
        return classifyFile(inputFile, modelFile, values, error);
    }

    // Notes of the last learn or classifyFile that did not make it fail
    // (skipped or unlabelled lines, an iteration cap reached); empty when none.
    virtual std::string lastWarning() const { return {}; }

    // One category's model to train in learnAll.
    struct Job {
        unsigned category = 0;  // 1-based category number
        std::string modelFile;
    };
    struct JobResult {
        bool ok = false;
        std::string error;    // why the model could not be trained
        std::string warning;  // the note of that training, if any
    };

    // Trains the jobs' models from trainFile with the outcome of calling
    // learn for each job in order (the same model files, byte for byte).
    // Engines may overlap the trainings where that outcome is kept. Stops
    // before the next job once `stop()` returns true; the results then hold
    // only the jobs done. `done(n)` is called on the calling thread after n
    // jobs finished.
    virtual std::vector<JobResult> learnAll(const std::string& trainFile, const std::vector<Job>& jobs,
                                            const std::function<bool()>& stop,
                                            const std::function<void(size_t)>& done) {
        std::vector<JobResult> results;
        for (const Job& job : jobs) {
            if (stop && stop()) break;
            JobResult r;
            r.ok = learn(trainFile, job.modelFile, job.category, r.error);
            r.warning = lastWarning();
            results.push_back(std::move(r));
            if (done) done(results.size());
        }
        return results;
    }
};

// The SVM engine of this build, or nullptr when none is built in.
std::unique_ptr<SvmEngine> makeSvmEngine();

}  // namespace kestrel
