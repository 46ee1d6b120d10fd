#pragma once
// The SVM classifier: one binary SVM per category (the category against all
// others), trained by decomposition (SvmTrainer) with a small quadratic
// solver (QpSolver), kept in SVM-light "V3.50" model files (SvmModelFile.h),
// and used to score vector files. CSVM is the front the rest of the program
// uses; it owns the solver, whose tuning values carry over from one
// training to the next.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classify/svm/CCompute_Param.h"
#include "classify/svm/CCompute_Result.h"
#include "classify/svm/SvmTypes.h"
#include "common/Status.h"
#include "features/VectorFile.h"

namespace kestrel {

class QpSolver;
struct LinearStart;
struct TrainingFileCache;


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

    // The parameter record: the SVM values, the training, model and input
    // file names. learn and classifyFile read it; nothing here changes it.
    CCompute_Param param;

    // ---- One-versus-rest training and scoring ----

    // Trains the model of category number k (1-based) against the rest from
    // param.trainFile and writes it to param.modelFile. On failure no model
    // file is left for the category.
    Status learn(int k);

    // Scores every document line of param.inputFile with the model in
    // param.modelFile: out receives one decision value per document line, in
    // file order. On failure out is all zeros. A line that breaks the
    // vector syntax keeps its slot with the value 0 and is counted in
    // lastReport().
    Status classifyFile(std::vector<double>& out);
    // Scores documents already in memory with the model in modelFile:
    // values receives one decision value per document, in order (all zeros
    // on failure).
    Status classifyDocuments(const std::vector<DocumentVector>& docs, const std::string& modelFile,
                             std::vector<double>& values);

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
    // figures. The solver state is not touched.
    Status adoptDeferredLearn(const CSVM& other);

    // The solver's buffers and tuning values, which carry over from one
    // training to the next (a training run ahead on another CSVM starts from
    // a copy and hands its end state back).
    const CCompute_Result& solverState() const;
    void setSolverState(const CCompute_Result& state);
    // Sets the solver buffers to problems of up to n variables, keeping the
    // threshold values dual[0] and dual[1].
    void resizeSolverBuffers(int32_t n);

    // Non-fatal notes of the last call (skipped lines), empty when none.
    const std::string& lastWarning() const { return lastWarning_; }
    const SvmReadReport& lastReport() const { return lastReport_; }
    // Figures of the last learn: documents used, support vectors, iterations.
    int64_t lastDocuments() const { return lastDocuments_; }
    int64_t lastSupportVectors() const { return lastSupportVectors_; }
    int64_t lastIterations() const { return lastIterations_; }
    int64_t lastKernelEvaluations() const { return lastKernelEvaluations_; }

    // ---- Vector files ----

    // Reads an open file to its end, closes it, and measures it.
    static SvmFileSize scanFileSize(FILE* file);

    // Parses one vector line ("label feature:weight ..."). On success doc's
    // words hold the entries plus the terminator, its docnum is -1 and its
    // squared norm is set. At most maxWords pairs are taken. On rejection
    // returns false and, if reason is given, says why.
    static bool parseDocumentLine(std::string_view line, SvmDoc& doc, long& label,
                                  int64_t maxWords, std::string* reason = nullptr);

    // Reads a training file for category number k: label k becomes +1, other
    // non-zero labels -1, label 0 stays 0. Fails when the file cannot be read.
    static Status readDocuments(const std::string& path, std::vector<SvmDoc>& docs,
                                std::vector<int32_t>& labels, int64_t maxWords, long k,
                                int32_t& totWords, SvmReadReport* report = nullptr);

    // Number of times learn parsed a training file (a training file that has
    // not changed since the last learn is taken from memory instead).
    int64_t trainingFileReads() const { return trainingFileReads_; }
    // Threads the linear trainings' starts may use (0: every core).
    void setThreads(unsigned threads) { threads_ = threads; }
    // Reads param.trainFile now if it is not kept already, and lets `other`
    // train from the same parsed documents while the file stays unchanged,
    // so that two trainings at once hold one copy. Nothing is shared when
    // the file cannot be read or its feature numbers are renumbered for
    // every training (see SvmTrainer::renumbersFeatures).
    void shareTrainingFile(CSVM& other);

private:
    // The training of category k from the kept training file, with the
    // documents' targets; writes (or keeps) the model text.
    Status trainCategory(int k, TrainingFileCache& file, const std::vector<int32_t>& targets);
    // Targets +1 (category k) and -1 (the rest) of the kept file's documents,
    // or the reason why they make no training problem.
    Status targetsFor(int k, const TrainingFileCache& file, std::vector<int32_t>& targets) const;
    // The linear starts of every category of the kept file for these
    // training parameters, computed on first use (null when a stop ended
    // that); `categories` receives their category numbers, ascending.
    std::shared_ptr<const std::vector<LinearStart>> linearStarts(TrainingFileCache& file, const LearnParams& lp,
                                                                 const std::vector<long>*& categories);

    // The parsed training file of the last learn, kept while the file stays
    // unchanged (same identity, size and times), so that training every
    // category reads and parses it once. Null when nothing is kept.
    TrainingFileCache* loadTrainingFile(const std::string& path, std::string& error);
    std::shared_ptr<TrainingFileCache> trainingFile_;
    int64_t trainingFileReads_ = 0;

    std::unique_ptr<QpSolver> solver_;
    std::string modelText_;  // the last model file's text (its buffer is reused)
    bool deferredOutput_ = false;
    // The last learn: its model file, category and outcome.
    std::string learnedModelFile_;
    int learnedCategory_ = 0;
    Status learned_;

    std::string lastWarning_;
    SvmReadReport lastReport_;
    int64_t lastDocuments_ = 0;
    int64_t lastSupportVectors_ = 0;
    int64_t lastIterations_ = 0;
    int64_t lastKernelEvaluations_ = 0;
    std::function<bool()> stopCheck_;
    unsigned threads_ = 0;
};

}  // namespace kestrel
