#pragma once
// Cross-validation and parameter sweeps over the existing pipeline: the
// corpus is preprocessed once; each fold (or the held-out test corpus) gets
// a training controller whose feature index is built once; for every
// combination it selects features and writes the fold's workspace as
// `kestrel train` does, and a second controller loads that workspace and
// classifies and evaluates the fold's test documents as `kestrel classify
// --test` does.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Corpus.h"
#include "common/Status.h"
#include "experiment/ExperimentGrid.h"
#include "pipeline/RunDescription.h"

namespace kestrel {

class ProgressSink;
class SvmEngine;
class TextClassifier;

struct ExperimentSettings {
    std::string corpusPath;     // training corpus, with trailing '/'
    std::string testPath;       // held-out test corpus with '/', or empty for cross-validation
    std::string workspacePath;  // temporary workspaces go below it (with '/')
    std::string startupDirectory;
    InputFormat inputFormat = InputFormat::RawText;
    uint32_t folds = 10;
    uint32_t repeats = 1;
    uint64_t seed = 1;
    unsigned threads = 0;       // 0: every core
    bool keepTemporary = false; // leave the fold workspaces for inspection
};

// The evaluation of one combination on one fold. Measures in 0..1.
struct FoldScores {
    double microRecall = 0, microPrecision = 0, microF1 = 0;
    double macroRecall = 0, macroPrecision = 0, macroF1 = 0;
    double trainSeconds = 0;     // selection, training vectors, SVM models
    double classifySeconds = 0;  // test vectors, classification
};

struct CombinationResult {
    Combination combination;
    size_t gridIndex = 0;           // position in the experiment's list of combinations
    std::vector<FoldScores> folds;  // one per fold of every repetition
    std::string failure;            // why it could not be evaluated (UTF-8); empty when it was
    bool evaluated() const { return failure.empty() && !folds.empty(); }
};

class Experiment {
public:
    Experiment(ExperimentSettings settings, std::vector<Combination> combinations);
    ~Experiment();  // removes the temporary workspaces (unless kept)
    Experiment(const Experiment&) = delete;
    Experiment& operator=(const Experiment&) = delete;

    // Preprocesses the corpus (and the test corpus), lists its documents and
    // assigns the folds. A failure when no combination can be evaluated (no
    // documents, fewer documents than folds, the segmenter cannot be loaded,
    // the workspace cannot be created).
    Status prepare(ProgressSink* sink);

    // Evaluates the combinations; `finished(result, index)` is called on the
    // calling thread after each one (index into the constructor's list).
    // The folds run a group at a time (as many as run side by side), each
    // group every combination, and a group's indexes are released before
    // the next is prepared: memory holds the folds at work. A combination
    // is finished, and `finished` called, with the last group. Stops when
    // sink->cancelled(): the combinations in progress are dropped and the
    // results hold only the finished ones. Rough-set combinations run first,
    // while every fold's index is still in the order it was built.
    std::vector<CombinationResult> run(ProgressSink* sink,
                                       const std::function<void(const CombinationResult&, size_t)>& finished = {});

    // Problems met on the way (UTF-8): skipped documents, sparse categories.
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Evaluations per combination and how many run at the same time.
    size_t evaluationsPerCombination() const { return tasks_.size(); }
    unsigned parallelEvaluations() const { return workers_; }
    // Why that many run at the same time (cores, memory).
    const std::string& parallelNote() const { return parallelNote_; }
    const CategoryTable& categories() const { return categories_; }
    // Where the temporary workspaces are.
    const std::string& temporaryPath() const { return temporaryPath_; }

    // For tests: the SVM engine each fold's controller uses.
    void setSvmEngineFactory(std::function<std::unique_ptr<SvmEngine>()> factory);

private:
    struct Task;
    // The pieces of prepare: the fold workspaces' directory, the corpus
    // preprocessed and listed (its size in bytes), the test corpus.
    Status createTemporaryWorkspace();
    Result<uint64_t> preprocessCorpus(TextClassifier& corpus, ProgressSink* sink);
    Status preprocessTestCorpus(TextClassifier& corpus, ProgressSink* sink);
    void warnAboutSparseCategories();
    bool prepareTask(Task& task, ProgressSink* sink);
    FoldScores evaluate(Task& task, const Combination& combination, ProgressSink* sink, std::string& failure);
    void chooseParallelism(uint64_t corpusBytes);
    // The result of the combination at gridIndex from its scores on every
    // fold, reported to `finished`.
    CombinationResult combinationResult(size_t gridIndex, std::vector<FoldScores>& scores,
                                        const std::vector<std::string>& failures,
                                        const std::function<void(const CombinationResult&, size_t)>& finished);
    void addWarning(const std::string& text);

    ExperimentSettings settings_;
    std::vector<Combination> combinations_;
    CategoryTable categories_;
    std::vector<uint32_t> documentCategory_;
    std::vector<std::string> documentPath_;  // absolute paths of the .seg files
    std::vector<std::unique_ptr<Task>> tasks_;
    unsigned workers_ = 1;
    std::string parallelNote_;
    std::string temporaryPath_;
    std::vector<std::string> warnings_;
    std::function<std::unique_ptr<SvmEngine>()> svmEngineFactory_;
};

}  // namespace kestrel
