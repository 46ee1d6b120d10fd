#pragma once
// The controller's SVM engine: one CSVM for the engine's whole life, so the
// solver's tuning values carry over from one training to the next.
#include <memory>
#include <string>
#include <vector>

#include "classify/SvmEngine.h"
#include "classify/svm/CSVM.h"

namespace kestrel {

class CsvmEngine : public SvmEngine {
public:
    // Every core by default; one when KESTREL_SVM_THREADS is 1.
    CsvmEngine();

    void setSettings(const SvmSettings& settings) override;
    void setThreads(unsigned threads) override { threads_ = threads; }
    Status learn(const std::string& trainFile, const std::string& modelFile, unsigned category) override;
    Status classifyFile(const std::string& inputFile, const std::string& modelFile,
                        std::vector<double>& values) override;
    Status classifyDocuments(const std::vector<DocumentVector>& docs, const std::string& modelFile,
                             std::vector<double>& values) override;

    // Notes of the last call that did not make it fail (skipped or unlabeled
    // training lines), empty when none.
    std::string lastWarning() const override { return svm_.lastWarning(); }
    CSVM& svm() { return svm_; }

    // With two threads, trains the jobs two at a time: while job i trains
    // on one thread, job i + 1 trains on another from the solver state job
    // i started with. Its result is kept when job i left that state as it
    // found it (in everything job i + 1 used), else job i + 1 is trained
    // again after it. Model files, messages and the final solver state are
    // those of calling learn for each job in order. A stop asked for while a
    // job trains ends that training at once; the engine then goes back to
    // the solver state it had before the call, so that a cancelled step
    // leaves no trace in later trainings.
    std::vector<JobResult> learnAll(const std::string& trainFile, const std::vector<Job>& jobs,
                                    const std::function<bool()>& stop,
                                    const std::function<void(size_t)>& done) override;

    // Times the run-ahead training parsed a training file itself (it shares
    // the engine's parsed copy while it can).
    int64_t aheadTrainingFileReads() const { return ahead_ ? ahead_->trainingFileReads() : 0; }
    // Trainings of learnAll run ahead and kept / run ahead and trained again.
    size_t speculationsKept() const { return speculationsKept_; }
    size_t speculationsRedone() const { return speculationsRedone_; }

private:
    bool twoAtATime() const;
    std::vector<JobResult> learnAhead(const std::string& trainFile, const std::vector<Job>& jobs,
                                      const std::function<bool()>& stop,
                                      const std::function<void(size_t)>& done);
    // Takes over the run-ahead training's solver state and outcome as the
    // outcome of the next job, when it holds for the state the job really
    // starts with (`start` is the state the ahead training started from).
    bool adoptAhead(const CCompute_Result& start, JobResult& result);

    CSVM svm_;
    // The second training of learnAll (it keeps its own parsed copy of the
    // training file between calls).
    std::unique_ptr<CSVM> ahead_;
    unsigned threads_ = 0;
    size_t speculationsKept_ = 0;
    size_t speculationsRedone_ = 0;
};

}  // namespace kestrel
