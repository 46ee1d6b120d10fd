#include "experiment/ExperimentRunner.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <thread>

#include "app/CorpusCounting.h"
#include "app/RunStages.h"
#include "app/TextClassifier.h"
#include "classify/SvmEngine.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/ParallelFor.h"
#include "common/Progress.h"
#include "evaluate/Evaluation.h"
#include "experiment/FoldAssignment.h"
#include "experiment/ScratchDirectory.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

namespace fs = std::filesystem;

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// What one fold's operations report: the moment the SVM models are trained
// (which the controller does at the start of its classification step), and
// the run's cancellation. Progress of the single steps is not shown.
class FoldSink : public ProgressSink {
public:
    explicit FoldSink(const ProgressSink* outer) : outer_(outer) {}
    void progress(std::string_view stage, uint64_t done, uint64_t total) override {
        if (stage == "train" && total > 0 && done == total) trainedAt = now();
    }
    bool cancelled() const override { return outer_ && outer_->cancelled(); }
    double trainedAt = -1;

private:
    const ProgressSink* outer_;
};

// How a failed stage of a fold is named in the experiment's messages.
const char* stageLabel(RunStage stage) {
    switch (stage) {
    case RunStage::Select: return "feature selection";
    case RunStage::TrainingVectors: return "training vectors";
    case RunStage::Load: return "loading the workspace";
    case RunStage::PreprocessRaw: return "test documents";
    case RunStage::CorpusVectors: return "test vectors";
    case RunStage::Classify: return "classification";
    default: return "workspace";
    }
}

// Puts a document into a fold's corpus: a hard link where the file system
// allows it, else a symbolic link, else a copy. The user's file is never
// written.
bool placeDocument(const std::string& source, const std::string& target, std::string& error) {
    std::error_code ec;
    fs::create_hard_link(source, target, ec);
    if (!ec) return true;
    fs::create_symlink(source, target, ec);
    if (!ec) return true;
    fs::copy_file(source, target, ec);
    if (!ec) return true;
    error = "cannot place " + source + " in " + target + ": " + ec.message();
    return false;
}

// MemAvailable of /proc/meminfo in bytes, 0 when unknown.
uint64_t availableMemory() {
    const std::string text = readFile("/proc/meminfo").valueOr({});
    const size_t at = text.find("MemAvailable:");
    if (at == std::string::npos) return 0;
    return static_cast<uint64_t>(leadingInteger(std::string_view(text).substr(at + 13))) * 1024;
}

}  // namespace

// One evaluation setting: a fold of one repetition, or the held-out corpus.
struct Experiment::Task {
    uint32_t repeat = 0;
    uint32_t fold = 0;
    std::string directory;  // this task's temporary directory
    std::unique_ptr<TextClassifier> trainer;     // holds the fold's index
    std::unique_ptr<TextClassifier> classifier;  // classifies with the fold's workspace
    TrainingRun training;                        // the fold's training run; selection and
                                                 // classifier set per combination
    ClassificationRun testing;                   // the fold's test documents
    bool prepared = false;
    std::string failure;    // why the fold could not be prepared
    std::vector<std::string> warnings;
    double preparedSeconds = 0;
    // The fold has run every combination: its index and controllers go.
    void release() {
        trainer.reset();
        classifier.reset();
    }
};

Experiment::Experiment(ExperimentSettings settings, std::vector<Combination> combinations)
    : settings_(std::move(settings)), combinations_(std::move(combinations)) {}

Experiment::~Experiment() {
    tasks_.clear();
    if (!temporaryPath_.empty() && !settings_.keepTemporary) {
        std::error_code ec;
        fs::remove_all(temporaryPath_, ec);
    } else if (!temporaryPath_.empty()) {
        markExperimentScratchKept(temporaryPath_);
    }
}

void Experiment::setSvmEngineFactory(std::function<std::unique_ptr<SvmEngine>()> factory) {
    svmEngineFactory_ = std::move(factory);
}

void Experiment::addWarning(const std::string& text) {
    if (std::find(warnings_.begin(), warnings_.end(), text) == warnings_.end()) warnings_.push_back(text);
}

Status Experiment::prepare(ProgressSink* sink) {
    const bool crossValidation = settings_.testPath.empty();
    if (crossValidation && settings_.folds < 2)
        return Status::failure(fmt::format("cross-validation needs at least 2 folds, not {}", settings_.folds));
    if (Status created = createTemporaryWorkspace(); !created) return created;

    // Preprocessing once: the .seg files beside the documents serve every fold.
    TextClassifier corpus;
    const Result<uint64_t> corpusBytes = preprocessCorpus(corpus, sink);
    if (!corpusBytes) return corpusBytes.status();

    if (!crossValidation) {
        if (Status tested = preprocessTestCorpus(corpus, sink); !tested) return tested;
        auto task = std::make_unique<Task>();
        task->directory = temporaryPath_ + "test/";
        tasks_.push_back(std::move(task));
    } else {
        if (documentPath_.size() < settings_.folds)
            return Status::failure(fmt::format("{} folds need at least {} documents; the corpus has {}",
                                               settings_.folds, settings_.folds, documentPath_.size()));
        warnAboutSparseCategories();
        for (uint32_t r = 0; r < settings_.repeats; ++r)
            for (uint32_t k = 0; k < settings_.folds; ++k) {
                auto task = std::make_unique<Task>();
                task->repeat = r;
                task->fold = k;
                task->directory = temporaryPath_ + fmt::format("r{}-fold{}/", r + 1, k + 1);
                tasks_.push_back(std::move(task));
            }
    }
    chooseParallelism(*corpusBytes);
    return Status::success();
}

Status Experiment::createTemporaryWorkspace() {
    // Fold directories inside a corpus would be read as categories.
    std::error_code ec;
    for (const std::string& corpus : {settings_.corpusPath, settings_.testPath}) {
        if (corpus.empty()) continue;
        const std::string inside = fs::weakly_canonical(settings_.workspacePath, ec).string() + "/";
        const std::string base = fs::weakly_canonical(corpus, ec).string() + "/";
        if (inside.starts_with(base))
            return Status::failure("the workspace " + toUtf8(settings_.workspacePath) + " lies inside the corpus " +
                                   toUtf8(corpus) + "; choose one outside it");
    }
    fs::create_directories(settings_.workspacePath, ec);
    removeAbandonedExperimentScratch(settings_.workspacePath);
    temporaryPath_ = experimentScratchPath(settings_.workspacePath);
    fs::remove_all(temporaryPath_, ec);
    if (!fs::create_directories(temporaryPath_, ec)) {
        const Status failed =
            Status::failure("cannot create the temporary workspace " + temporaryPath_ + ": " + ec.message());
        temporaryPath_.clear();
        return failed;
    }
    return Status::success();
}

Result<uint64_t> Experiment::preprocessCorpus(TextClassifier& corpus, ProgressSink* sink) {
    TrainingRun run;
    run.environment = {temporaryPath_, settings_.startupDirectory, settings_.threads};
    run.corpus = settings_.corpusPath;
    run.format = settings_.inputFormat;
    run.categoryCount = countCategorisedCorpus(settings_.corpusPath, settings_.inputFormat).categories;
    describeRun(corpus, run);
    if (const Status done = runStages(corpus, {RunStage::Preprocess}, sink).status; !done)
        return Status::failure("preprocessing the corpus failed: " + toUtf8(done.message()));
    for (const auto& w : corpus.warnings()) addWarning(toUtf8(w));
    categories_ = corpus.categories();
    std::vector<std::string> listWarnings;
    const auto documents = listTrainingDocuments(settings_.corpusPath, categories_, &listWarnings);
    for (const auto& w : listWarnings) addWarning(toUtf8(w));
    if (documents.empty())
        return Status::failure("不存在训练文档！ (no documents in the sub-directories of " +
                               toUtf8(settings_.corpusPath) + ")");
    uint64_t corpusBytes = 0;
    std::error_code ec;
    for (const auto& doc : documents) {
        documentCategory_.push_back(doc.category);
        documentPath_.push_back(fs::absolute(doc.path, ec).string());
        struct stat st;
        if (stat(doc.path.c_str(), &st) == 0) corpusBytes += static_cast<uint64_t>(st.st_size);
    }
    return corpusBytes;
}

Status Experiment::preprocessTestCorpus(TextClassifier& corpus, ProgressSink* sink) {
    ClassificationRun run;
    run.environment = {temporaryPath_, settings_.startupDirectory, settings_.threads};
    run.corpus = settings_.testPath;
    run.format = settings_.inputFormat;
    run.labelled = true;
    describeRun(corpus, run);
    if (const Status done = runStages(corpus, {RunStage::PreprocessRaw}, sink).status; !done)
        return Status::failure("preprocessing the test corpus failed: " + toUtf8(done.message()));
    for (const auto& w : corpus.warnings()) addWarning(toUtf8(w));
    if (corpus.rawDocuments().empty())
        return Status::failure("no document of the test corpus lies in a directory named like a training category");
    return Status::success();
}

// A category with fewer documents than folds leaves some folds without a
// test document of it; the person is told which.
void Experiment::warnAboutSparseCategories() {
    std::vector<uint32_t> perCategory(categories_.size(), 0);
    for (const uint32_t category : documentCategory_) ++perCategory[category];
    for (size_t c = 0; c < categories_.size(); ++c) {
        const std::string name = toUtf8(categories_[c].name);
        if (perCategory[c] == 0)
            addWarning("category " + name + " has no documents: no fold tests it");
        else if (perCategory[c] < settings_.folds) {
            const uint32_t untested = settings_.folds - perCategory[c];
            addWarning(fmt::format("category {} has {} documents, fewer than the {} folds: {} fold{} test{} none "
                                   "of it{}",
                                   name, perCategory[c], settings_.folds, untested, untested == 1 ? "" : "s",
                                   untested == 1 ? "s" : "",
                                   perCategory[c] == 1 ? ", and the fold that tests it trains without it" : ""));
        }
    }
}

void Experiment::chooseParallelism(uint64_t corpusBytes) {
    const unsigned cores = workerCount(settings_.threads, std::numeric_limits<size_t>::max());
    unsigned workers = workerCount(settings_.threads, tasks_.size());
    // A fold at work holds its index, its training vectors (and the SVM's
    // copy of them): a few times the size of the segmented corpus.
    const uint64_t perFold = std::max<uint64_t>(corpusBytes * 4, 16u << 20);
    const uint64_t available = availableMemory();
    if (available > 0) {
        const uint64_t fit = std::max<uint64_t>(1, available / 2 / perFold);
        workers = static_cast<unsigned>(std::min<uint64_t>(workers, fit));
    }
    workers_ = workers;
    parallelNote_ = fmt::format("{} evaluation{} per combination, {} at a time ({} core{}", tasks_.size(),
                                tasks_.size() == 1 ? "" : "s", workers_, cores, cores == 1 ? "" : "s");
    if (available > 0)
        parallelNote_ += fmt::format(", about {} MB per fold of {} MB available", perFold >> 20, available >> 20);
    parallelNote_ += ")";
}

bool Experiment::prepareTask(Task& task, ProgressSink* sink) {
    const double start = now();
    task.prepared = true;
    // Two controllers share the fold's workspace: one trains as `kestrel
    // train` does, the other loads that workspace and classifies the fold's
    // test documents as `kestrel classify --test` does (with the features as
    // features.txt records them).
    auto trainer = std::make_unique<TextClassifier>();
    auto classifier = std::make_unique<TextClassifier>();
    // Folds that run side by side take one core each; a single one takes all.
    task.training.environment = {task.directory + "model/", settings_.startupDirectory,
                                 workers_ > 1 ? 1 : settings_.threads};
    task.training.format = InputFormat::Preprocessed;
    task.training.categoryCount = static_cast<uint32_t>(categories_.size());
    task.testing.environment = task.training.environment;
    task.testing.format = InputFormat::Preprocessed;
    task.testing.labelled = true;
    for (TextClassifier* c : {trainer.get(), classifier.get()})
        if (svmEngineFactory_) c->setSvmEngine(svmEngineFactory_());
    std::error_code ec;
    fs::create_directories(task.training.environment.workspace, ec);
    if (settings_.testPath.empty()) {
        // The fold's own training and test corpus: the documents of the
        // corpus linked into category directories (every category, even
        // one without documents here, so the category ids stay the same).
        const std::string train = task.directory + "train/";
        const std::string test = task.directory + "test/";
        for (const auto& category : categories_) {
            fs::create_directories(train + category.name, ec);
            fs::create_directories(test + category.name, ec);
        }
        const auto folds = assignFolds(documentCategory_, settings_.folds, settings_.seed + task.repeat);
        for (size_t n = 0; n < documentPath_.size(); ++n) {
            const std::string& name = categories_[documentCategory_[n]].name;
            const std::string target = (folds[n] == task.fold ? test : train) + name + "/" +
                                       fs::path(documentPath_[n]).filename().string();
            if (!placeDocument(documentPath_[n], target, task.failure)) return false;
        }
        task.training.corpus = train;
        task.testing.corpus = test;
    } else {
        task.training.corpus = settings_.corpusPath;
        task.testing.corpus = settings_.testPath;
    }
    describeRun(*trainer, task.training);
    describeRun(*classifier, task.testing);
    if (const RunOutcome done = runStages(*trainer, {RunStage::Preprocess, RunStage::Index}, sink); !done.ok()) {
        task.failure = toUtf8(done.status.message());
        return false;
    }
    for (const auto& w : trainer->warnings()) task.warnings.push_back(toUtf8(w));
    task.trainer = std::move(trainer);
    task.classifier = std::move(classifier);
    task.preparedSeconds = now() - start;
    return true;
}

FoldScores Experiment::evaluate(Task& task, const Combination& combination, ProgressSink* sink,
                                std::string& failure) {
    FoldScores scores;
    FoldSink foldSink(sink);
    if (!task.prepared) prepareTask(task, &foldSink);
    if (!task.trainer) {
        failure = task.failure;
        return scores;
    }
    TextClassifier& t = *task.trainer;
    TextClassifier& c = *task.classifier;
    auto failed = [&](const char* step, const Status& status) {
        failure = std::string(step) + ": " + toUtf8(status.message());
        return scores;
    };
    const double start = now();
    // The combination's training files change the fold's workspace as one
    // update, as `kestrel train` does; the lock goes with it, so that the
    // classifying controller can take it.
    struct UpdateScope {
        TextClassifier& controller;
        ~UpdateScope() { controller.endUpdates(); }
    } updateScope{t};
    if (const Status status = t.beginUpdate("experiment"); !status) return failed("workspace", status);
    task.training.selection = {combination.selection, combination.dimension};
    task.training.classifier = combination.params;
    const RunOutcome trainedRun = runStages(
        t, {RunStage::Select, RunStage::TrainingVectors, RunStage::Parameters}, &foldSink, {}, &task.training);
    if (!trainedRun.ok()) {
        if (trainedRun.stage == RunStage::Parameters) {
            failure = toUtf8(trainedRun.status.message());
            return scores;
        }
        return failed(stageLabel(trainedRun.stage), trainedRun.status);
    }
    if (const Status status = t.commitUpdate(); !status) return failed("workspace", status);
    t.endUpdates();
    const double trained = now();

    double vectors = 0, end = 0;
    const RunOutcome tested = runStages(
        c, {RunStage::Load, RunStage::PreprocessRaw, RunStage::CorpusVectors, RunStage::Classify}, &foldSink,
        [&](RunStage stage, const Status&) {
            if (stage == RunStage::CorpusVectors) vectors = now();
            if (stage == RunStage::Classify) {
                end = now();
                // The KNN training vectors of this selection are of no further use.
                c.knn() = KnnClassifier();
            }
            return true;
        });
    if (!tested.ok()) return failed(stageLabel(tested.stage), tested.status);
    // The scores come from the documents in memory; the fold's result.dat
    // is only a record, and one that cannot be written changes nothing.
    static_cast<void>(runStages(c, {RunStage::Results}, nullptr));

    const double svmTraining = foldSink.trainedAt >= vectors ? foldSink.trainedAt - vectors : 0.0;
    scores.trainSeconds = trained - start + svmTraining;
    scores.classifySeconds = end - trained - svmTraining;
    const Evaluation evaluation(c.categories(), c.rawDocuments(), c.rawDocCount);
    const MeasureRow& micro = evaluation.microAverage();
    const MeasureRow& macro = evaluation.macroAverage();
    scores.microRecall = micro.recall;
    scores.microPrecision = micro.precision;
    scores.microF1 = Evaluation::f1Percent(micro.recall, micro.precision) / 100.0;
    scores.macroRecall = macro.recall;
    scores.macroPrecision = macro.precision;
    scores.macroF1 = Evaluation::f1Percent(macro.recall, macro.precision) / 100.0;
    return scores;
}

std::vector<CombinationResult> Experiment::run(ProgressSink* sink,
                                               const std::function<void(const CombinationResult&, size_t)>& finished) {
    std::vector<CombinationResult> results;
    // Rough-set reduction is prepared once per fold from the index in the
    // order it was built; the statistical selections reorder the index.
    std::vector<size_t> order(combinations_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_partition(order.begin(), order.end(),
                          [&](size_t i) { return combinations_[i].selection == kRs; });

    const auto stop = [&] { return sink && sink->cancelled(); };

    // The folds are taken a group at a time, as many as run side by side:
    // each group runs every combination and then lets its indexes go, so
    // memory holds the folds at work, not all of them.
    const size_t group = std::max<size_t>(1, workers_);
    std::vector<std::vector<FoldScores>> scores(order.size(), std::vector<FoldScores>(tasks_.size()));
    std::vector<std::vector<std::string>> failures(order.size(), std::vector<std::string>(tasks_.size()));
    for (size_t first = 0; first < tasks_.size(); first += group) {
        const size_t count = std::min(group, tasks_.size() - first);
        const bool lastGroup = first + count == tasks_.size();
        for (size_t done = 0; done < order.size(); ++done) {
            if (stop()) return results;  // unfinished combinations are dropped
            const Combination& combination = combinations_[order[done]];
            const std::string name = combinationName(combination);
            const bool complete = parallelFor(
                count, workers_,
                [&](size_t t) {
                    scores[done][first + t] = evaluate(*tasks_[first + t], combination, sink, failures[done][first + t]);
                },
                stop,
                [&](size_t n) {
                    if (sink) sink->progress(name, first + n, tasks_.size());
                });
            if (!complete || stop()) return results;
            if (lastGroup) results.push_back(combinationResult(order[done], scores[done], failures[done], finished));
        }
        for (size_t t = first; t < first + count; ++t) tasks_[t]->release();
    }
    return results;
}

CombinationResult Experiment::combinationResult(size_t gridIndex, std::vector<FoldScores>& scores,
                                                const std::vector<std::string>& failures,
                                                const std::function<void(const CombinationResult&, size_t)>& finished) {
    CombinationResult result;
    result.combination = combinations_[gridIndex];
    result.gridIndex = gridIndex;
    for (size_t t = 0; t < tasks_.size(); ++t) {
        for (const auto& w : tasks_[t]->warnings) addWarning(w);
        tasks_[t]->warnings.clear();
        if (!failures[t].empty() && result.failure.empty()) {
            result.failure = settings_.testPath.empty()
                                 ? fmt::format("fold {}", tasks_[t]->fold + 1) +
                                       (settings_.repeats > 1 ? fmt::format(" of repetition {}",
                                                                            tasks_[t]->repeat + 1)
                                                              : std::string()) +
                                       ": " + failures[t]
                                 : failures[t];
        }
    }
    if (result.failure.empty()) result.folds = std::move(scores);
    if (finished) finished(result, gridIndex);
    return result;
}

}  // namespace kestrel
