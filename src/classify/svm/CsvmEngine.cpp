#include "classify/svm/CsvmEngine.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "classify/svm/ChunkRunner.h"

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

bool CsvmEngine::classifyDocuments(const std::vector<DocumentVector>& docs, const std::string& inputFile,
                                   const std::string& modelFile, std::vector<double>& values, std::string& error) {
    svm_.param.inputFile = inputFile;
    svm_.param.modelFile = modelFile;
    if (docs.empty()) {
        error = "the file " + inputFile + " holds no document lines";
        std::fill(values.begin(), values.end(), 0.0);
        return false;
    }
    if (svm_.classifyDocuments(docs, values) != 0) {
        error = svm_.lastError();
        return false;
    }
    return true;
}

}  // namespace kestrel

namespace kestrel {

namespace {

// Turns the per-training helper thread off while two trainings share the
// cores (each training then runs on one thread), and back as it was.
struct HelperOff {
    bool before = ChunkRunner::isHelperAllowed();
    HelperOff() { ChunkRunner::setHelperAllowed(false); }
    ~HelperOff() { ChunkRunner::setHelperAllowed(before); }
    HelperOff(const HelperOff&) = delete;
    HelperOff& operator=(const HelperOff&) = delete;
};

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool validCategory(unsigned category) { return category != 0 && category <= unsigned(INT_MAX); }

// Whether a training run ahead from `start` (the state the training before
// it started with) computed what it would have computed from `end` (the
// state that training really left): the tuning values are unchanged, the
// threshold values it inherited were never used, and the buffers would not
// have been reallocated at other points (a reallocation clears them).
bool aheadHolds(const CCompute_Result& start, const CCompute_Result& end, const CCompute_Result& ahead) {
    if (!sameBits(start.precision, end.precision) || start.maxIterations != end.maxIterations ||
        !sameBits(start.linDepSensitivity, end.linDepSensitivity) ||
        start.precisionViolations != end.precisionViolations)
        return false;
    if (ahead.staleDualRead || !ahead.dualFresh) return false;
    return start.allocated == end.allocated || (end.allocated > 0 && ahead.largestRequest <= end.allocated);
}

}  // namespace

std::vector<SvmEngine::JobResult> CsvmEngine::learnAll(const std::string& trainFile,
                                                       const std::vector<Job>& jobs,
                                                       const std::function<bool()>& stop,
                                                       const std::function<void(size_t)>& done) {
    const CCompute_Result before = svm_.result;
    if (!ahead_) ahead_ = std::make_unique<CSVM>();
    struct StopChecks {
        CSVM& svm;
        CSVM& ahead;
        StopChecks(CSVM& s, CSVM& a, const std::function<bool()>& stop) : svm(s), ahead(a) {
            svm.setStopCheck(stop);
            ahead.setStopCheck(stop);
        }
        ~StopChecks() {
            svm.setStopCheck({});
            ahead.setStopCheck({});
        }
    } checks(svm_, *ahead_, stop);
    auto results = jobs.size() < 2 || !ChunkRunner::helpful() ? SvmEngine::learnAll(trainFile, jobs, stop, done)
                                                              : learnAhead(trainFile, jobs, stop, done);
    if (stop && stop()) svm_.result = before;
    return results;
}

std::vector<SvmEngine::JobResult> CsvmEngine::learnAhead(const std::string& trainFile,
                                                         const std::vector<Job>& jobs,
                                                         const std::function<bool()>& stop,
                                                         const std::function<void(size_t)>& done) {
    HelperOff helperOff;
    ahead_->setDeferredOutput(true);

    std::vector<JobResult> results;
    auto finished = [&](JobResult r) {
        results.push_back(std::move(r));
        if (done) done(results.size());
    };
    size_t i = 0;
    while (i < jobs.size()) {
        if (stop && stop()) break;
        const CCompute_Result start = svm_.result;
        // The next job runs ahead from the state this one starts with.
        std::thread aheadThread;
        std::exception_ptr aheadFailure;
        if (i + 1 < jobs.size() && validCategory(jobs[i + 1].category)) {
            ahead_->param = svm_.param;
            ahead_->param.trainFile = trainFile;
            ahead_->param.modelFile = jobs[i + 1].modelFile;
            ahead_->result = start;
            const int category = int(jobs[i + 1].category);
            try {
                aheadThread = std::thread([this, category, &aheadFailure] {
                    try {
                        ahead_->learn(category);  // the outcome is taken over below
                    } catch (...) {
                        aheadFailure = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
                // No thread to be had: this round trains one job only.
            }
        }
        JobResult r;
        try {
            r.ok = learn(trainFile, jobs[i].modelFile, jobs[i].category, r.error);
        } catch (...) {
            if (aheadThread.joinable()) aheadThread.join();
            throw;
        }
        r.warning = lastWarning();
        finished(std::move(r));
        ++i;
        if (!aheadThread.joinable()) continue;
        aheadThread.join();
        if (stop && stop()) break;
        if (aheadFailure || !aheadHolds(start, svm_.result, ahead_->result)) {
            ++speculationsRedone_;
            continue;  // the job is trained again, from the state it really starts with
        }
        ++speculationsKept_;
        // The state after the job is what it would have left: its own
        // values, in buffers as large as the sequence would have made them.
        const int32_t endAllocated = svm_.result.allocated;
        const int32_t allocated = endAllocated == 0
                                      ? ahead_->result.allocated
                                      : std::max(endAllocated, ahead_->result.largestRequest);
        svm_.result = ahead_->result;
        if (svm_.result.allocated != allocated) svm_.resizeSolverBuffers(allocated);
        JobResult next;
        next.ok = svm_.adoptDeferredLearn(*ahead_) == 0;
        if (!next.ok) next.error = svm_.lastError();
        next.warning = lastWarning();
        finished(std::move(next));
        ++i;
    }
    return results;
}

}  // namespace kestrel
