#include "cli/PipelineCommands.h"

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/ClassifierChoice.h"
#include "app/CorpusCounting.h"
#include "app/TextClassifier.h"
#include "app/WorkspaceFiles.h"
#include "classify/svm/SvmOptions.h"
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

// The option words of each value of an enumeration, from its one naming function.
template <class T, class Name>
std::vector<std::pair<std::string, T>> choicesOf(std::initializer_list<T> values, Name name) {
    std::vector<std::pair<std::string, T>> choices;
    for (const T value : values) choices.emplace_back(name(value), value);
    return choices;
}

// --format, --threads and --timings, which train and classify share.
void addRunOptions(OptionParser& parser, InputFormat& format, unsigned& threads, bool& timings) {
    parser.addChoice("--format", format,
                     choicesOf({InputFormat::RawText, InputFormat::Preprocessed}, inputFormatName),
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
    parser.addChoice("--select", o.mode, {{"chi", kChi}, {"ig", kIg}, {"mi", kMi}, {"rs", kRs}},
                     "feature selection method (default chi)");
    parser.addNumber("--dim", o.dim, 1, UINT32_MAX, "number of features (default 50)");
    parser.addChoice("--classifier", o.params.classifier,
                     choicesOf({ClassifierKind::Knn, ClassifierKind::Svm}, classifierName),
                     "classification method written to params.dat (default knn)");
    parser.addNumber("-k", o.params.k, 1, 100, "KNN neighbours, 1..100 (default 20)");
    parser.addChoice("--similarity", o.params.similarity,
                     choicesOf({Similarity::Cosine, Similarity::Manhattan, Similarity::Euclidean}, similarityName),
                     "KNN similarity (default cosine)");
    addSvmOptions(app, o.params.svm);
    addRunOptions(parser, o.format, o.threads, o.timings);
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    if (o.corpus.empty()) return parser.usageError("train needs --corpus DIR (see kestrel train --help)");
    return -1;
}

}  // namespace

namespace {

// Sets the controller up for training on the corpus of `o` and opens the
// workspace update; -1 when ready, else the exit status.
int prepareTraining(const TrainOptions& o, TextClassifier& controller, TerminalProgress& progress,
                    StageTimer& timer) {
    if (!isDirectory(o.corpus)) {
        printError("the training corpus " + o.corpus + " does not exist or is not a directory");
        return 1;
    }
    controller.threads = o.threads;
    controller.startupDirectory = currentDirectory();
    controller.trainingCorpusPath = directoryArgument(o.corpus);
    controller.workspacePath =
        o.workspace.empty() ? defaultWorkspaceFor(controller.trainingCorpusPath) : directoryArgument(o.workspace);
    controller.trainingFormat = o.format;
    const CorpusCount count = countCategorisedCorpus(controller.trainingCorpusPath, o.format);
    if (count.documents == 0) {
        printError(std::string("不存在训练文档！ (no ") + "*" + documentExtension(o.format) +
                   " documents in the sub-directories of " + controller.trainingCorpusPath + ")");
        return 1;
    }
    controller.categoryCount = count.categories;
    controller.trainingDocCount = count.documents;
    if (const Status status = controller.workspaceOutsideTrainingCorpus(); !status) return fail("训练文本预处理失败！", controller, status);
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

// Preprocessing, index, selection, vectors and the parameter files, then
// the commit of the update; 0 or the exit status of the failed stage.
int runTrainingStages(const TrainOptions& o, TextClassifier& controller, TerminalProgress& progress,
                      StageTimer& timer) {
    if (const Status status = controller.preprocessTraining(&progress); !status) return fail("训练文本预处理失败！", controller, status);
    printWarnings(controller);
    timer.lap(progress, "preprocess");
    const auto& report = controller.preprocessReport();
    if (report.failed) {
        progress.finishLine();
        std::fprintf(stderr, "kestrel: %u of %u documents could not be preprocessed and were skipped\n",
                     report.failed, report.documents);
    }
    if (const Status status = controller.buildIndex(&progress); !status) return fail("特征索引失败！", controller, status);
    printWarnings(controller);
    timer.lap(progress, "index");
    controller.selectionMode = o.mode;
    controller.newDimensionality = o.dim;
    if (const Status status = controller.selectFeatures(&progress); !status) return fail("特征选择失败！", controller, status);
    timer.lap(progress, "select");
    if (const Status status = controller.writeVectors(&progress); !status) return fail("训练文本向量写入失败！", controller, status);
    printWarnings(controller);
    timer.lap(progress, "vectors");
    if (const Status written = writeClassifierSettings(controller.workDirectory(), o.params, controller.fsInfo());
        !written) {
        printError(written.message());
        return 1;
    }
    if (const Status status = controller.commitUpdate(); !status) return fail("无法保存工作目录！", controller, status);
    progress.finishLine();
    return 0;
}

}  // namespace

int runTrain(int argc, char** argv) {
    TrainOptions o;
    if (const int exit = parseTrainOptions(argc, argv, o); exit >= 0) return exit;
    TextClassifier controller;
    TerminalProgress progress;
    StageTimer timer(o.timings);
    if (const int exit = prepareTraining(o, controller, progress, timer); exit >= 0) return exit;
    if (const int exit = runTrainingStages(o, controller, progress, timer); exit != 0) return exit;
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
    controller.threads = o.threads;
    controller.startupDirectory = currentDirectory();
    controller.workspacePath = directoryArgument(o.workspace);
    if (!isDirectory(controller.workspacePath)) {
        printError("读取分类模型失败！ (the workspace " + o.workspace + " does not exist or is not a directory)");
        return 1;
    }
    if (const Status status = controller.beginUpdate("classify"); !status) return fail("无法使用工作目录！", controller, status);
    if (const Status status = controller.loadClassifier(); !status) return fail("读取分类模型失败！", controller, status);
    timer.lap(progress, "load");

    if (!isDirectory(o.corpus)) {
        printError("the corpus " + o.corpus + " does not exist or is not a directory");
        return 1;
    }
    controller.rawCorpusPath = directoryArgument(o.corpus);
    controller.rawFormat = o.format;
    controller.vectorMode = o.test ? kTestVectors : kExampleVectors;
    const uint32_t documents = o.test ? countCategorisedCorpus(controller.rawCorpusPath, o.format).documents
                                      : countDocuments(controller.rawCorpusPath, o.format);
    if (documents == 0) {
        printError(std::string("不存在原始文档！ (no ") + "*" + documentExtension(o.format) + " documents " +
                   (o.test ? "in the sub-directories of " : "in ") + controller.rawCorpusPath + ")");
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
    if (const Status status = controller.preprocessRaw(&progress); !status) return fail("原始文本预处理失败！", controller, status);
    printWarnings(controller);
    timer.lap(progress, "preprocess");
    if (controller.rawDocuments().empty()) {
        printError(o.test ? "no document of the corpus lies in a directory named like a training category"
                          : "no document of the corpus could be preprocessed");
        return 1;
    }
    if (const Status status = controller.writeVectors(&progress); !status) return fail("原始文本向量写入失败！", controller, status);
    printWarnings(controller);
    timer.lap(progress, "vectors");
    const Status classified = controller.classify(&progress);
    printWarnings(controller);
    timer.lap(progress, "classify");
    if (!classified) return fail("文本分类失败！", controller, classified);
    if (const Status status = controller.writeResults(); !status) return fail("分类结果写入失败！", controller, status);
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
