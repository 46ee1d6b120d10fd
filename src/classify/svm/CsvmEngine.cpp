#include "classify/svm/CsvmEngine.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "common/ParallelFor.h"

namespace kestrel {

namespace {

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool validCategory(unsigned category) { return category != 0 && category <= unsigned(INT_MAX); }

Status invalidCategory(unsigned category) {
    return Status::failure("invalid category number " + std::to_string(category));
}

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

SvmEngine::JobResult jobResult(const Status& status, const std::string& warning) {
    SvmEngine::JobResult r;
    r.ok = status.ok();
    r.error = status.message();
    r.warning = warning;
    return r;
}

}  // namespace

CsvmEngine::CsvmEngine() {
    // KESTREL_SVM_THREADS=1 keeps every training on the calling thread (for
    // measurements, or a machine whose second core is better left alone).
    const char* limit = std::getenv("KESTREL_SVM_THREADS");
    if (limit && std::strtol(limit, nullptr, 10) == 1) threads_ = 1;
}

void CsvmEngine::setSettings(const SvmSettings& settings) {
    svm_.param.setSettings(settings);
}

Status CsvmEngine::learn(const std::string& trainFile, const std::string& modelFile, unsigned category) {
    svm_.param.trainFile = trainFile;
    svm_.param.modelFile = modelFile;
    svm_.setThreads(twoAtATime() ? threads_ : 1);
    if (!validCategory(category)) return invalidCategory(category);
    return svm_.learn(int(category));
}

Status CsvmEngine::classifyFile(const std::string& inputFile, const std::string& modelFile,
                                std::vector<double>& values) {
    svm_.param.inputFile = inputFile;
    svm_.param.modelFile = modelFile;
    const Status status = svm_.classifyFile(values);
    if (!status) return status;
    // A line that is not a vector cannot be scored; the controller maps
    // values to documents by position, so the file is refused as a whole.
    if (svm_.lastReport().rejected) {
        std::fill(values.begin(), values.end(), 0.0);
        return Status::failure("cannot classify: " + svm_.lastWarning());
    }
    return Status();
}

Status CsvmEngine::classifyDocuments(const std::vector<DocumentVector>& docs, const std::string& modelFile,
                                     std::vector<double>& values) {
    return svm_.classifyDocuments(docs, modelFile, values);
}

bool CsvmEngine::twoAtATime() const {
    return threads_ == 0 ? std::thread::hardware_concurrency() >= 2 : threads_ >= 2;
}

std::vector<SvmEngine::JobResult> CsvmEngine::learnAll(const std::string& trainFile, const std::vector<Job>& jobs,
                                                       const std::function<bool()>& stop,
                                                       const std::function<void(size_t)>& done) {
    const CCompute_Result before = svm_.solverState();
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
    auto results = jobs.size() < 2 || !twoAtATime() ? SvmEngine::learnAll(trainFile, jobs, stop, done)
                                                    : learnAhead(trainFile, jobs, stop, done);
    if (stop && stop()) svm_.setSolverState(before);
    return results;
}

std::vector<SvmEngine::JobResult> CsvmEngine::learnAhead(const std::string& trainFile,
                                                         const std::vector<Job>& jobs,
                                                         const std::function<bool()>& stop,
                                                         const std::function<void(size_t)>& done) {
    ahead_->setDeferredOutput(true);
    // Both trainings read one parsed copy of the training file.
    svm_.param.trainFile = trainFile;
    svm_.shareTrainingFile(*ahead_);
    std::vector<JobResult> results;
    auto finished = [&](JobResult r) {
        results.push_back(std::move(r));
        if (done) done(results.size());
    };
    size_t i = 0;
    while (i < jobs.size()) {
        if (stop && stop()) break;
        const CCompute_Result start = svm_.solverState();
        // The next job runs ahead from the state this one starts with.
        bool ahead = i + 1 < jobs.size() && validCategory(jobs[i + 1].category);
        if (ahead) {
            ahead_->param = svm_.param;
            ahead_->param.trainFile = trainFile;
            ahead_->param.modelFile = jobs[i + 1].modelFile;
            ahead_->setSolverState(start);
            ahead_->setThreads(twoAtATime() ? threads_ : 1);
        }
        JobResult current;
        bool currentStarted = false, aheadFailed = false;
        auto train = [&](size_t task) {
            if (task == 0) {
                currentStarted = true;
                const Status status = learn(trainFile, jobs[i].modelFile, jobs[i].category);
                current = jobResult(status, lastWarning());
                return;
            }
            // Only the outcome is taken over (below); a failure of the
            // training itself means the job is trained again.
            try {
                (void)ahead_->learn(int(jobs[i + 1].category));
            } catch (...) {
                aheadFailed = true;
            }
        };
        try {
            parallelFor(ahead ? 2 : 1, 2, train);
        } catch (const std::system_error&) {
            if (currentStarted) throw;
            // No thread to be had: this round trains one job only.
            ahead = false;
            train(0);
        }
        finished(std::move(current));
        ++i;
        if (!ahead) continue;
        if (stop && stop()) break;
        JobResult next;
        if (aheadFailed || !adoptAhead(start, next)) {
            ++speculationsRedone_;
            continue;  // the job is trained again, from the state it really starts with
        }
        ++speculationsKept_;
        finished(std::move(next));
        ++i;
    }
    return results;
}

bool CsvmEngine::adoptAhead(const CCompute_Result& start, JobResult& result) {
    const CCompute_Result& end = svm_.solverState();
    const CCompute_Result& aheadEnd = ahead_->solverState();
    if (!aheadHolds(start, end, aheadEnd)) return false;
    // The state after the job is what it would have left: its own values,
    // in buffers as large as the sequence would have made them.
    const int32_t endAllocated = end.allocated;
    const int32_t allocated =
        endAllocated == 0 ? aheadEnd.allocated : std::max(endAllocated, aheadEnd.largestRequest);
    svm_.setSolverState(aheadEnd);
    if (svm_.solverState().allocated != allocated) svm_.resizeSolverBuffers(allocated);
    const Status status = svm_.adoptDeferredLearn(*ahead_);
    result = jobResult(status, lastWarning());
    return true;
}

}  // namespace kestrel
