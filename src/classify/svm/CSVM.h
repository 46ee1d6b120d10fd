#pragma once
// The SVM classifier: one binary SVM per category (the category against all
// others), trained by decomposition with a small quadratic solver, kept in
// SVM-light "V3.50" model files, and used to score vector files.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classify/svm/CCompute_Param.h"
#include "classify/svm/CCompute_Result.h"
#include "classify/svm/SvmTypes.h"
#include "features/VectorFile.h"

namespace kestrel {

class KernelCache;
struct TrainState;
struct TrainingFileCache;
struct InitialColumns;


// Sizes of a text file as scanFileSize measures them.
struct SvmFileSize {
    int64_t lines = 1;        // 1 + number of newline characters
    int64_t maxSpaces = 0;    // most space characters on one line
    int64_t longestLine = 0;  // longest line, with one byte for its line end
};

// What a reader skipped: lines rejected by the vector line syntax.
using SvmReadReport = VectorReadReport;

class CSVM {
public:
    CSVM();
    virtual ~CSVM();
    CSVM(const CSVM&) = delete;
    CSVM& operator=(const CSVM&) = delete;

    CCompute_Param param;
    CCompute_Result result;

    // ---- One-versus-rest training and scoring ----

    // Trains the model of category number k (1-based) against the rest from
    // param.trainFile and writes it to param.modelFile. Returns 0, or -1 with
    // lastError() set (no model file is then left for the category).
    int learn(int k);

    // Scores every document line of param.inputFile with the model in
    // param.modelFile: out receives one decision value per document line, in
    // file order. Returns 0, or -1 with lastError() set and out all zeros.
    // A line that breaks the vector syntax keeps its slot with the value 0
    // and is counted in lastReport().
    int classifyFile(std::vector<double>& out);
    // Scores documents held in memory with the model in param.modelFile:
    // out receives one decision value per document. Returns 0, or -1 with
    // lastError() set and out all zeros.
    int classifyDocuments(const std::vector<SvmDoc>& docs, std::vector<double>& out);

    // With deferred output, learn keeps the model file's text in memory
    // (modelText) instead of writing it, and a failed learn leaves an old
    // model file alone; adoptDeferredLearn then finishes the training's
    // output later, in the order of the trainings.
    void setDeferredOutput(bool deferred) { deferredOutput_ = deferred; }
    // Asked between the solver's iterations: when it answers true, the
    // training under way stops at once and learn fails as cancelled,
    // writing no model. An empty function never stops.
    void setStopCheck(std::function<bool()> stop) { stopCheck_ = std::move(stop); }
    const std::string& modelText() const { return modelText_; }
    // Takes over the outcome of other's last learn (run with deferred
    // output) as if this object had made it: writes that model file, or
    // removes it when the training failed, and takes the messages and
    // figures. Returns 0 or -1 like learn. The solver state is not touched.
    int adoptDeferredLearn(const CSVM& other);
    // Sets the solver buffers to problems of up to n variables, keeping the
    // threshold values dual[0] and dual[1].
    void resizeSolverBuffers(int32_t n);

    const std::string& lastError() const { return lastError_; }
    // Non-fatal notes of the last call (skipped lines), empty when none.
    const std::string& lastWarning() const { return lastWarning_; }
    const SvmReadReport& lastReport() const { return lastReport_; }
    // Figures of the last learn: documents used, support vectors, iterations.
    int64_t lastDocuments() const { return lastDocuments_; }
    int64_t lastSupportVectors() const { return lastSupportVectors_; }
    int64_t lastIterations() const { return lastIterations_; }
    int64_t lastKernelEvaluations() const { return lastKernelEvaluations_; }

    // ---- Files and kernels ----

    // Reads an open file to its end, closes it, and measures it.
    static SvmFileSize scanFileSize(FILE* file);

    // Parses one vector line ("label feature:weight ..."). On success doc's
    // words hold the entries plus the terminator, its docnum is -1 and its
    // squared norm is set. At most maxWords pairs are taken. On rejection
    // returns false and, if reason is given, says why.
    static bool parseDocumentLine(std::string_view line, SvmDoc& doc, long& label,
                                  int64_t maxWords, std::string* reason = nullptr);

    // Reads a training file for category number k: label k becomes +1, other
    // non-zero labels -1, label 0 stays 0. Fails (naming the file) when the
    // file cannot be read.
    static Status readDocuments(const std::string& path, std::vector<SvmDoc>& docs,
                                std::vector<int32_t>& labels, int64_t maxWords, long k,
                                int32_t& totWords, SvmReadReport* report = nullptr);
    // The document lines of a vector file's text with their labels as
    // written (readDocuments maps them to +1/-1/0 for one category).
    static void parseDocuments(std::string_view content, std::vector<SvmDoc>& docs,
                               std::vector<long>& labels, int64_t maxWords, int32_t& totWords,
                               SvmReadReport* report = nullptr);

    // Number of times learn parsed a training file (a training file that has
    // not changed since the last learn is taken from memory instead).
    int64_t trainingFileReads() const { return trainingFileReads_; }

    // Reads a model file. Returns 0, or -1 (error says why) when the file
    // cannot be opened, has another version, or is truncated or malformed.
    static int readModel(const std::string& path, SvmModel& model, std::string* error = nullptr);

    // The model file text.
    static std::string formatModel(const SvmModel& model);
    // The same into `out`, with the entries of a support vector taken from
    // `entries` when it gives them (as appendEntries writes them), else
    // formatted.
    static void formatModel(const SvmModel& model,
                            const std::function<const std::string*(const SvmDoc&)>& entries,
                            std::string& out);
    // A document's entries as a model file lists them ("%ld:%.8g " each).
    static void appendEntries(std::string& out, const SvmDoc& doc);
    // Writes the model file (whole or not at all). False with error on failure.
    static bool writeModel(const SvmModel& model, const std::string& path,
                           std::string* error = nullptr);

    static double sparseDot(const SvmWord* a, const SvmWord* b);
    static double kernel(const KernelParams& params, const SvmDoc& a, const SvmDoc& b);
    // The kernel value of a and b given their dot product (not for the
    // user-defined kernel, which needs the vectors themselves).
    static double kernelFromDot(const KernelParams& params, double dot, const SvmDoc& a,
                                const SvmDoc& b);
    static double customKernel(const SvmDoc& a, const SvmDoc& b);
    static double classifyExample(const SvmModel& model, const SvmDoc& doc);
    // Builds the weight vector of a linear model.
    static void addLinearWeights(SvmModel& model);
    // Scores a document with a linear model's weights; entries above the
    // model's highest feature index are dropped.
    static double classifyLinear(const SvmModel& model, const SvmDoc& doc);

    // ---- Training ----

    // Fills model from docs (docnum = position) and targets (+1/-1; 0 is an
    // unlabeled example and gets no multiplier).
    void train(std::vector<SvmDoc>& docs, std::vector<int32_t>& targets, int32_t totWords,
               LearnParams& learnParams, const KernelParams& kernelParams, KernelCache* cache,
               SvmModel& model);

    // ---- Quadratic subproblem solver ----

    const double* solveSubproblem(const QpSubproblem& qp, double& epsilonCrit, int32_t nx,
                                  double& threshold, LearnParams& learnParams);
    int solveReduced(const QpSubproblem& qp, int goal, bool smallRound, double precision,
                     double epsilonCrit, double epsilonA, int32_t maxIterations,
                     double sensitivity);
    int solveDual(ReducedProblem& rp, int goal, double precision, double epsilonCrit,
                  int32_t maxIterations);
    // Gauss-Jordan inversion without pivoting; a pivot below the sensitivity
    // (or an already flagged one) flags its variable as dependent.
    static void invertMatrix(std::vector<double>& d, int32_t n, double sensitivity,
                             std::vector<int32_t>& flags, std::vector<double>& inverse);
    static void swapRowColumn(std::vector<double>& m, int32_t n, int32_t r1, int32_t r2);
    static void copyMatrix(const std::vector<double>& from, std::vector<double>& to, int32_t n);

private:
    // Training steps (SvmTraining.cpp).
    void optimize(TrainState& s, SvmModel& model);
    int64_t selectWorkingSet(TrainState& s, int64_t budget, bool cachedOnly);
    void solveWorkingSet(TrainState& s, SvmModel& model);
    void updateLinearComponents(TrainState& s);
    // Linear kernel (SvmLinearTraining.cpp): the weight change of the
    // working set, the optimality check that also brings every active
    // decision value up to date and finds the next working-set candidates
    // (begun before the model update, finished by checkOptimality), and the
    // selection from those candidates (false when they are stale).
    void updateLinearWeights(TrainState& s);
    void beginLinearCheck(TrainState& s);
    double finishLinearCheck(TrainState& s, const SvmModel& model);
    bool selectPredicted(TrainState& s, int64_t budget);
    void addKernelRowDelta(TrainState& s, int32_t i, double delta, const std::vector<int32_t>& targets);
    void updateModel(TrainState& s, SvmModel& model);
    void checkOptimality(TrainState& s, const SvmModel& model, double& maxdiff, bool& retrain);
    void shrinkProblem(TrainState& s, int64_t minimumCount);
    void reactivateInactive(TrainState& s, const SvmModel& model, double& maxdiff);
    void buildActiveList(TrainState& s);

    void allocateSolverBuffers(int32_t nx);

    // The parsed training file of the last learn, kept while the file stays
    // unchanged (same identity, size and times), so that training every
    // category reads and parses it once. Null when nothing is kept.
    TrainingFileCache* loadTrainingFile(const std::string& path, std::string& error);
    std::unique_ptr<TrainingFileCache> trainingFile_;
    // Set by learn while it trains from the kept training file: where the
    // linear training keeps (or finds) its starting layout.
    InitialColumns* initialColumns_ = nullptr;
    int64_t trainingFileReads_ = 0;
    std::string modelText_;  // the last model file's text (its buffer is reused)
    bool deferredOutput_ = false;
    // The last learn: its model file, category and whether it succeeded.
    std::string learnedModelFile_;
    int learnedCategory_ = 0;
    bool learnedOk_ = false;

    std::string lastError_;
    std::string lastWarning_;
    SvmReadReport lastReport_;
    int64_t lastDocuments_ = 0;
    int64_t lastSupportVectors_ = 0;
    int64_t lastIterations_ = 0;
    int64_t lastKernelEvaluations_ = 0;
    // Work left to the training under way, counted in solver sweeps and
    // outer iterations together; at zero the training stops where it is.
    int64_t workLeft_ = INT64_MAX;
    std::function<bool()> stopCheck_;
    bool cancelled_ = false;  // the last training was stopped by stopCheck_
};

}  // namespace kestrel
