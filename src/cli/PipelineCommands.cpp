#include "cli/PipelineCommands.h"

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "workspace/DefaultWorkspace.h"
#include "workspace/ParameterNames.h"
#include "pipeline/CorpusListing.h"
#include "app/RunStages.h"
#include "app/TextClassifier.h"
#include "workspace/WorkspaceFiles.h"
#include "cli/SvmOptions.h"
#include "cli/CommandLine.h"
#include "cli/OptionParser.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "common/ResourceUsage.h"
#include "evaluate/Evaluation.h"
#include "evaluate/WorkbookExport.h"

namespace kestrel::cli {

namespace {

const char* const kTrainDescription =
    "Preprocesses a training corpus (one sub-directory per category), builds the\n"
    "feature index, selects features, writes train.dat, params.dat and fsinfo.dat.\n";

const char* const kClassifyDescription =
    "Loads a trained workspace, preprocesses and classifies a corpus, writes\n"
    "result.dat; for a test corpus prints the evaluation.\n";

// --format, --threads and --timings, which train and classify share.
void addRunOptions(OptionParser& parser, InputFormat& format, unsigned& threads, bool& timings) {
    parser.addChoice("--format", format,
                     inputFormatChoices(),
                     "raw text (*.txt, segmented here) or segmented *.seg (default txt)");
    parser.app()
        .add_option_function<std::string>(
            "--threads",
            [&parser, &threads](const std::string& value) {
                uint32_t t = 0;
                if (!parseUnsigned(value, t)) parser.refuse("--threads", value);
                threads = t;
            },
            "worker threads (default: every core)")
        ->option_text("N");
    parser.app().add_flag("--timings", timings, "print the time, CPU use and peak memory of every stage on standard error");
}

void printWarnings(const TextClassifier& controller) {
    for (const auto& w : controller.warnings()) printWarning(toUtf8(w));
}

// A failed step: the program's own message, then what went wrong.
int fail(std::string_view message, const TextClassifier& controller, const Status& failure) {
    printWarnings(controller);
    std::string text(message);
    if (!failure.message().empty()) text += " (" + toUtf8(failure.message()) + ")";
    printError(text);
    return 1;
}

// Prints text whose lines end in "\r\n" with plain line ends.
void printReport(const std::string& report) {
    std::string out;
    for (const char c : report)
        if (c != '\r') out += c;
    std::printf("%s\n", out.c_str());
}

// With --timings, one line per stage on standard error:
// "time <stage> <seconds> s cpu <seconds> s (<cores> cores) peak <MB> MB".
// Measures nothing without --timings, which samples the resident memory
// from a thread of its own.
class StageTimer {
public:
    explicit StageTimer(bool enabled) {
        if (enabled) cost_.emplace();
    }
    void lap(TerminalProgress& progress, const char* stage) {
        if (!cost_) return;
        const StageCost::Figures figures = cost_->lap();
        progress.finishLine();
        std::fprintf(stderr, "time %s %s\n", stage, describeStageCost(figures).c_str());
    }

private:
    std::optional<StageCost> cost_;
};

}  // namespace

namespace {

struct TrainOptions {
    std::string corpus, workspace;
    InputFormat format = InputFormat::RawText;
    int mode = kChi;
    uint32_t dim = 50;
    ClassifierParams params;
    unsigned threads = 0;
    bool timings = false;
};

// The options of train; -1 when the training is to run, else the status.
int parseTrainOptions(int argc, char** argv, TrainOptions& o) {
    OptionParser parser("train", kTrainDescription);
    CLI::App& app = parser.app();
    app.add_option("--corpus", o.corpus, "training corpus (required)")->option_text("DIR");
    app.add_option("--workspace", o.workspace, "result directory (default: \"model\" beside the corpus)")
        ->option_text("DIR");
    parser.addChoice("--select", o.mode, selectionChoices(), "feature selection method (default chi)");
    parser.addNumber("--dim", o.dim, 1, UINT32_MAX, "number of features (default 50)");
    parser.addChoice("--classifier", o.params.classifier, classifierChoices(),
                     "classification method written to params.dat (default knn)");
    parser.addNumber("-k", o.params.k, 1, 100, "KNN neighbours, 1..100 (default 20)");
    parser.addChoice("--similarity", o.params.similarity, similarityChoices(), "KNN similarity (default cosine)");
    addSvmOptions(app, o.params.svm);
    addRunOptions(parser, o.format, o.threads, o.timings);
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    if (o.corpus.empty()) return parser.usageError("train needs --corpus DIR (see kestrel train --help)");
    return -1;
}

}  // namespace

namespace {

// The training run the options of `o` describe, with the controller set up
// for it and the workspace update open; -1 when ready, else the exit status.
int prepareTraining(const TrainOptions& o, TrainingRun& run, TextClassifier& controller, TerminalProgress& progress,
                    StageTimer& timer) {
    if (!isDirectory(o.corpus)) {
        printError("the training corpus " + o.corpus + " does not exist or is not a directory");
        return 1;
    }
    run.corpus = directoryArgument(o.corpus);
    run.environment = {o.workspace.empty() ? defaultWorkspaceFor(run.corpus) : directoryArgument(o.workspace),
                       currentDirectory(), o.threads};
    run.format = o.format;
    run.selection = {o.mode, o.dim};
    run.classifier = o.params;
    // The one listing of the corpus: counted here, preprocessed next.
    Result<CorpusListing> listing = listCategorisedCorpus(run.corpus, o.format);
    if (!listing || listing->documents.empty()) {
        printError(std::string("不存在训练文档！ (no ") + "*" + documentExtension(o.format) +
                   " documents in the sub-directories of " + run.corpus + ")");
        return 1;
    }
    run.categoryCount = static_cast<uint32_t>(listing->categories.size());
    run.listing = std::make_shared<const CorpusListing>(std::move(*listing));
    describeRun(controller, run);
    if (const Status status = controller.workspaceOutsideTrainingCorpus(); !status)
        return fail(stageFailureCaption(RunStage::Preprocess), controller, status);
    if (!makeDirectory(controller.workspacePath)) {
        printError("cannot create the workspace directory " + controller.workspacePath);
        return 1;
    }
    // The whole run is one update of the workspace: it shows the old state
    // or all of the new one.
    if (const Status status = controller.beginUpdate("train"); !status) return fail("无法使用工作目录！", controller, status);
    timer.lap(progress, "count");
    return -1;
}

// The stage's failure as the command line reports it; 1.
int failStage(const RunOutcome& outcome, const TextClassifier& controller) {
    if (outcome.stage == RunStage::Parameters) {
        printError(outcome.status.message());
        return 1;
    }
    return fail(stageFailureCaption(outcome.stage), controller, outcome.status);
}

// Preprocessing, index, selection, vectors and the parameter files, then
// the commit of the update; 0 or the exit status of the failed stage.
int runTrainingStages(const TrainingRun& run, TextClassifier& controller, TerminalProgress& progress,
                      StageTimer& timer) {
    const auto reportStage = [&](RunStage stage, const Status& status) {
        if (!status) return false;
        switch (stage) {
        case RunStage::Preprocess: {
            printWarnings(controller);
            timer.lap(progress, "preprocess");
            const auto& report = controller.preprocessReport();
            if (report.failed) {
                progress.finishLine();
                std::fprintf(stderr, "kestrel: %u of %u documents could not be preprocessed and were skipped\n",
                             report.failed, report.documents);
            }
            break;
        }
        case RunStage::Index:
            printWarnings(controller);
            timer.lap(progress, "index");
            break;
        case RunStage::Select: timer.lap(progress, "select"); break;
        case RunStage::TrainingVectors:
            printWarnings(controller);
            timer.lap(progress, "vectors");
            break;
        default: break;
        }
        return true;
    };
    const RunOutcome outcome =
        runStages(controller,
                  {RunStage::Preprocess, RunStage::Index, RunStage::Select, RunStage::TrainingVectors,
                   RunStage::Parameters},
                  &progress, reportStage, &run);
    if (!outcome.ok()) return failStage(outcome, controller);
    if (const Status status = controller.commitUpdate(); !status) return fail("无法保存工作目录！", controller, status);
    progress.finishLine();
    return 0;
}

}  // namespace

int runTrain(int argc, char** argv) {
    TrainOptions o;
    if (const int exit = parseTrainOptions(argc, argv, o); exit >= 0) return exit;
    TrainingRun run;
    TextClassifier controller;
    TerminalProgress progress;
    StageTimer timer(o.timings);
    if (const int exit = prepareTraining(o, run, controller, progress, timer); exit >= 0) return exit;
    if (const int exit = runTrainingStages(run, controller, progress, timer); exit != 0) return exit;
    std::printf("workspace %s\n%u categories, %u training documents, %u candidate features, %u selected (%s), %s\n",
                toUtf8(controller.workspacePath).c_str(), controller.categoryCount, controller.trainingDocCount,
                controller.oldDimensionality(), controller.newDimensionality, selectionModeName(o.mode),
                o.params.classifier == ClassifierKind::Knn ? "KNN" : "SVM");
    return 0;
}

namespace {

struct ClassifyOptions {
    std::string corpus, workspace;
    InputFormat format = InputFormat::RawText;
    bool test = false;
    bool exportWorkbook = false;
    bool timings = false;
    unsigned threads = 0;
};

// The options of classify; -1 when the classification is to run, else the
// status.
int parseClassifyOptions(int argc, char** argv, ClassifyOptions& o) {
    OptionParser parser("classify", kClassifyDescription);
    CLI::App& app = parser.app();
    app.add_option("--workspace", o.workspace, "trained workspace (required)")->option_text("DIR");
    app.add_option("--corpus", o.corpus, "corpus to classify (required)")->option_text("DIR");
    app.add_flag("--test", o.test, "the corpus is labelled: one sub-directory per training category");
    app.add_flag("--export", o.exportWorkbook, "with --test: add the evaluation to the workbook in the workspace");
    addRunOptions(parser, o.format, o.threads, o.timings);
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    if (o.workspace.empty() || o.corpus.empty())
        return parser.usageError("classify needs --workspace DIR and --corpus DIR (see kestrel classify --help)");
    if (o.exportWorkbook && !o.test)
        return parser.usageError("--export needs --test: only a labelled corpus can be evaluated");
    return -1;
}

// Loads the workspace's classifier and sets the corpus of `o` up; -1 when
// ready, else the exit status.
int prepareClassification(const ClassifyOptions& o, TextClassifier& controller, TerminalProgress& progress,
                          StageTimer& timer) {
    ClassificationRun run;
    run.environment = {directoryArgument(o.workspace), currentDirectory(), o.threads};
    run.format = o.format;
    run.labelled = o.test;
    describeRun(controller, run);
    if (!isDirectory(controller.workspacePath)) {
        printError("读取分类模型失败！ (the workspace " + o.workspace + " does not exist or is not a directory)");
        return 1;
    }
    if (const Status status = controller.beginUpdate("classify"); !status) return fail("无法使用工作目录！", controller, status);
    if (const RunOutcome loaded = runStages(controller, {RunStage::Load}, nullptr); !loaded.ok())
        return failStage(loaded, controller);
    timer.lap(progress, "load");

    if (!isDirectory(o.corpus)) {
        printError("the corpus " + o.corpus + " does not exist or is not a directory");
        return 1;
    }
    run.corpus = directoryArgument(o.corpus);
    // The one listing of the corpus: counted here, preprocessed next.
    Result<CorpusListing> listing =
        o.test ? listCategorisedCorpus(run.corpus, o.format) : Result<CorpusListing>(listFlatCorpus(run.corpus, o.format));
    const uint32_t documents = listing ? listing->documentCount() : 0;
    if (listing) run.listing = std::make_shared<const CorpusListing>(std::move(*listing));
    describeRun(controller, run);
    if (documents == 0) {
        printError(std::string("不存在原始文档！ (no ") + "*" + documentExtension(o.format) + " documents " +
                   (o.test ? "in the sub-directories of " : "in ") + run.corpus + ")");
        return 1;
    }
    controller.rawDocCount = documents;
    timer.lap(progress, "count");
    return -1;
}

// Preprocessing, vectors, classification and the results, then the commit
// of the update; 0 or the exit status of the failed stage.
int runClassificationStages(const ClassifyOptions& o, TextClassifier& controller, TerminalProgress& progress,
                            StageTimer& timer) {
    const auto reportStage = [&](RunStage stage, const Status& status) {
        // A failed classification still tells what it met and how long it took.
        if (!status && stage != RunStage::Classify) return false;
        switch (stage) {
        case RunStage::PreprocessRaw:
            printWarnings(controller);
            timer.lap(progress, "preprocess");
            return !controller.rawDocuments().empty();
        case RunStage::CorpusVectors:
            printWarnings(controller);
            timer.lap(progress, "vectors");
            break;
        case RunStage::Classify:
            printWarnings(controller);
            timer.lap(progress, "classify");
            break;
        default: break;
        }
        return true;
    };
    const RunOutcome outcome = runStages(
        controller, {RunStage::PreprocessRaw, RunStage::CorpusVectors, RunStage::Classify, RunStage::Results},
        &progress, reportStage);
    if (outcome.stopped) {
        printError(o.test ? "no document of the corpus lies in a directory named like a training category"
                          : "no document of the corpus could be preprocessed");
        return 1;
    }
    if (!outcome.ok()) return failStage(outcome, controller);
    if (const Status status = controller.commitUpdate(); !status) return fail("无法保存工作目录！", controller, status);
    progress.finishLine();
    return 0;
}

// Prints the evaluation of a test corpus and, when asked, adds it to the
// workbook; 0 or the exit status.
int reportEvaluation(const ClassifyOptions& o, TextClassifier& controller) {
    const auto& categories = controller.categories();
    const Evaluation evaluation(categories, controller.rawDocuments(), controller.rawDocCount);
    printReport(evaluation.overallReport());
    for (uint32_t c = 0; c < categories.size(); ++c) {
        std::printf("\n");
        printReport(evaluation.categoryReport(c));
    }
    if (!o.exportWorkbook) return 0;
    if (const Status status = controller.beginUpdate("export"); !status) return fail("无法使用工作目录！", controller, status);
    if (const Status exported = exportWorkbook(controller.workDirectory(), evaluation, categories); !exported) {
        printError(exported.message());
        return 1;
    }
    if (const Status status = controller.commitUpdate(); !status) return fail("无法保存工作目录！", controller, status);
    std::printf("\nexported to %s\n", toUtf8(controller.workspacePath + kEvaluationWorkbookName).c_str());
    return 0;
}

}  // namespace

int runClassify(int argc, char** argv) {
    ClassifyOptions o;
    if (const int exit = parseClassifyOptions(argc, argv, o); exit >= 0) return exit;
    TextClassifier controller;
    TerminalProgress progress;
    StageTimer timer(o.timings);
    if (const int exit = prepareClassification(o, controller, progress, timer); exit >= 0) return exit;
    if (const int exit = runClassificationStages(o, controller, progress, timer); exit != 0) return exit;
    if (o.test) return reportEvaluation(o, controller);
    const auto& categories = controller.categories();
    auto categoryName = [&](int32_t id) {
        return id >= 0 && static_cast<size_t>(id) < categories.size() ? toUtf8(categories[static_cast<size_t>(id)].name)
                                                                       : std::string("-");
    };
    for (const auto& doc : controller.rawDocuments())
        std::printf("%s %s\n", toUtf8(doc.fileName).c_str(), categoryName(doc.assignedCategory).c_str());
    return 0;
}

}  // namespace kestrel::cli
