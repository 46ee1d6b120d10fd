#pragma once
// SVM training by decomposition (SvmTraining.cpp; shrinking the active set
// in SvmShrinking.cpp; the passes of the linear kernel over every active
// example in SvmLinearTraining.cpp, its starting point in SvmLinearStart.cpp).
#include <cstdint>
#include <functional>
#include <vector>

#include "classify/svm/SvmTypes.h"

namespace kestrel {

class KernelCache;
class QpSolver;
struct InitialColumns;
struct LinearStart;
struct TrainState;

// How a training went.
struct TrainingOutcome {
    int64_t iterations = 0;
    int64_t kernelEvaluations = 0;
    bool cancelled = false;         // the stop check ended it; the model is incomplete
    bool stoppedEarly = false;      // a limit ended it before the tolerance was met
    bool workLimitReached = false;  // that limit was the bound on the whole work
};

class SvmTrainer {
public:
    // Trainings that solve their subproblems with `solver` (whose tuning
    // values they adapt) and ask `stop` between iterations whether to end
    // at once (an empty function never stops).
    explicit SvmTrainer(QpSolver& solver, std::function<bool()> stop = {});

    // Solves the SVM dual
    //   maximise sum_i a_i - 1/2 sum_i sum_j a_i a_j y_i y_j K(x_i, x_j)
    //   subject to 0 <= a_i <= C_i and, for a biased hyperplane,
    //   sum_i y_i a_i = 0
    // over the documents (y_i the targets, +1/-1; 0 is an unlabeled example
    // that gets no multiplier) and fills the model with its support vectors,
    // which point into docs. C_i is learnParams.svmC (times the cost ratio
    // for positive examples); svmC 0 stands for 1/r^2 with r the mean norm
    // of the documents in feature space. Non-linear kernels take their rows
    // from `cache`. The linear kernel's decomposition from 0 (no linear
    // start) starts from `initialColumns` when they are filled, and fills
    // them otherwise (both may be null). The
    // documents' docnum becomes their position; everything else in them is
    // as before when train returns.
    TrainingOutcome train(std::vector<DocumentVector>& docs, const std::vector<int32_t>& targets, int32_t totWords,
                          LearnParams& learnParams, const KernelParams& kernelParams, KernelCache* cache,
                          InitialColumns* initialColumns, SvmModel& model);

    // Whether a linear training renumbers the documents' features for its
    // duration (feature numbers far sparser than the entries); otherwise
    // training writes nothing into documents whose docnum is their position,
    // and several trainings may read them at once.
    static bool renumbersFeatures(const std::vector<DocumentVector>& docs, int32_t totWords);

    // The linear kernel's start for the next trainings (multipliers for
    // every document and threshold, see LinearStarts.h), computed with the
    // other problems of the same documents; null: each training computes
    // its own. It must outlive the trainings.
    void setLinearStart(const LinearStart* start) { linearStart_ = start; }

    // C = 1/r^2 with r the mean distance of the documents from the origin
    // in the kernel's feature space (what learnParams.svmC 0 stands for).
    static double defaultCost(const std::vector<DocumentVector>& docs, const KernelParams& kp);

private:
    void initialise(TrainState& s, const std::vector<int32_t>& targets);
    void optimize(TrainState& s, SvmModel& model);
    void chooseWorkingSet(TrainState& s, bool stalled);
    int64_t selectWorkingSet(TrainState& s, int64_t budget, bool cachedOnly);
    void solveWorkingSet(TrainState& s, SvmModel& model);
    void updateLinearComponents(TrainState& s);
    void addKernelRowDelta(TrainState& s, int32_t i, double delta, const std::vector<int32_t>& targets);
    void updateModel(TrainState& s, SvmModel& model);
    void checkOptimality(TrainState& s, const SvmModel& model, double& maxdiff, bool& retrain);
    void shrinkProblem(TrainState& s, int64_t minimumCount);
    void shrinkStep(TrainState& s, const SvmModel& model);
    void reactivateInactive(TrainState& s, const SvmModel& model, double& maxdiff);
    void buildActiveList(TrainState& s);

    // Linear kernel (SvmLinearTraining.cpp): the weight change of the
    // working set, the optimality check that also brings every active
    // decision value up to date and finds the next working-set candidates,
    // and the selection from those candidates (false when they are stale).
    void updateLinearWeights(TrainState& s);
    double checkLinear(TrainState& s, const SvmModel& model);
    bool selectPredicted(TrainState& s, int64_t budget);
    // Multipliers, decision values and model from dual coordinate descent
    // (LinearStarts.h), where the decomposition then starts.
    void startLinear(TrainState& s, SvmModel& model);

    QpSolver& solver_;
    std::function<bool()> stop_;
    const LinearStart* linearStart_ = nullptr;
    // Work left to the training under way, counted in solver sweeps and
    // outer iterations together; at zero the training stops where it is.
    int64_t workLeft_ = INT64_MAX;
    bool cancelled_ = false;
};

}  // namespace kestrel
