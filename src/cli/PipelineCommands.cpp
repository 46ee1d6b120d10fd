#include "cli/PipelineCommands.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/ClassifierChoice.h"
#include "app/CorpusCounting.h"
#include "app/TextClassifier.h"
#include "app/WorkspaceFiles.h"
#include "classify/svm/SvmOptions.h"
#include "cli/CommandLine.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "evaluate/Evaluation.h"
#include "evaluate/WorkbookExport.h"

namespace kestrel::cli {

namespace {

const char* const kTrainHelp =
    "usage: kestrel train --corpus DIR [options]\n"
    "\n"
    "Preprocesses a training corpus (one sub-directory per category), builds the\n"
    "feature index, selects features, writes train.dat, params.dat and fsinfo.dat.\n"
    "\n"
    "  --corpus DIR          training corpus (required)\n"
    "  --workspace DIR       result directory (default: \"model\" beside the corpus)\n"
    "  --format txt|seg      raw text (*.txt, segmented here) or segmented *.seg (default txt)\n"
    "  --select chi|ig|mi|rs feature selection method (default chi)\n"
    "  --dim N               number of features (default 50)\n"
    "  --classifier knn|svm  classification method written to params.dat (default knn)\n"
    "  -k N                  KNN neighbours, 1..100 (default 20)\n"
    "  --similarity cosine|manhattan|euclidean   KNN similarity (default cosine)\n"
    "SVM parameters written to params.dat:\n";

const char* const kClassifyHelp =
    "usage: kestrel classify --workspace DIR --corpus DIR [options]\n"
    "\n"
    "Loads a trained workspace, preprocesses and classifies a corpus, writes\n"
    "result.dat; for a test corpus prints the evaluation.\n"
    "\n"
    "  --workspace DIR   trained workspace (required)\n"
    "  --corpus DIR      corpus to classify (required)\n"
    "  --test            the corpus is labelled: one sub-directory per training category\n"
    "  --format txt|seg  raw text or segmented documents (default txt)\n"
    "  --export          with --test: add the evaluation to the workbook in the workspace\n";

const char* const kCommonHelp =
    "  --threads N           worker threads (default: every core)\n"
    "  --timings             print the time of every stage on standard error\n";

void printWarnings(const TextClassifier& controller) {
    for (const auto& w : controller.warnings()) printWarning(toUtf8(w));
}

// A failed step: the program's own message, then what went wrong.
int fail(std::string_view message, const TextClassifier& controller) {
    printWarnings(controller);
    std::string text(message);
    if (!controller.lastError().empty()) text += " (" + toUtf8(controller.lastError()) + ")";
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

class StageTimer {
public:
    explicit StageTimer(bool enabled) : enabled_(enabled), start_(nowSeconds()) {}
    void lap(TerminalProgress& progress, const char* stage) {
        const double now = nowSeconds();
        if (enabled_) {
            progress.finishLine();
            std::fprintf(stderr, "time %s %.3f s\n", stage, now - start_);
        }
        start_ = now;
    }

private:
    bool enabled_;
    double start_;
};

bool parseFormat(const std::string& v, InputFormat& format) {
    const std::optional<InputFormat> parsed = parseInputFormat(v);
    if (parsed) format = *parsed;
    return parsed.has_value();
}

}  // namespace

int runTrain(int argc, char** argv) {
    std::string corpus, workspace;
    InputFormat format = InputFormat::RawText;
    int mode = kChi;
    uint32_t dim = 50;
    ClassifierParams params;
    unsigned threads = 0;
    bool timings = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        std::string v, error;
        auto bad = [&]() {
            printError("bad value for " + name + ": " + v + " (see kestrel train --help)");
            return 2;
        };
        switch (parseSvmOption(argc, argv, i, params.svm, error)) {
        case SvmOptionResult::Consumed: continue;
        case SvmOptionResult::Error: printError(error); return 2;
        case SvmOptionResult::NotSvmOption: break;
        }
        if (name == "--help" || name == "-h") {
            std::fputs(kTrainHelp, stdout);
            std::fputs(svmOptionsHelp(), stdout);
            std::fputs(kCommonHelp, stdout);
            return 0;
        }
        if (name == "--timings") {
            timings = true;
            continue;
        }
        const bool takesValue = name == "--corpus" || name == "--workspace" || name == "--format" ||
                                name == "--select" || name == "--dim" || name == "--classifier" || name == "-k" ||
                                name == "--similarity" || name == "--threads";
        if (!takesValue) {
            printError((name.starts_with("-") ? "unknown option " : "unexpected argument ") + name +
                       " (see kestrel train --help)");
            return 2;
        }
        if (!optionValue(argc, argv, i, v)) return 2;
        if (name == "--corpus") corpus = v;
        else if (name == "--workspace") workspace = v;
        else if (name == "--format") {
            if (!parseFormat(v, format)) return bad();
        } else if (name == "--select") {
            if (v == "chi") mode = kChi;
            else if (v == "ig") mode = kIg;
            else if (v == "mi") mode = kMi;
            else if (v == "rs") mode = kRs;
            else return bad();
        } else if (name == "--dim") {
            if (!parseUnsigned(v, dim) || dim < 1) return bad();
        } else if (name == "--classifier") {
            const std::optional<ClassifierKind> kind = parseClassifier(v);
            if (!kind) return bad();
            params.classifier = *kind;
        } else if (name == "-k") {
            if (!parseUnsigned(v, params.k) || params.k < 1 || params.k > 100) return bad();
        } else if (name == "--similarity") {
            const std::optional<Similarity> similarity = parseSimilarity(v);
            if (!similarity) return bad();
            params.similarity = *similarity;
        } else if (name == "--threads") {
            uint32_t t;
            if (!parseUnsigned(v, t)) return bad();
            threads = t;
        }
    }
    if (corpus.empty()) {
        printError("train needs --corpus DIR (see kestrel train --help)");
        return 2;
    }
    if (!isDirectory(corpus)) {
        printError("the training corpus " + corpus + " does not exist or is not a directory");
        return 1;
    }

    TextClassifier controller;
    controller.threads = threads;
    controller.startupDirectory = currentDirectory();
    controller.trainingCorpusPath = directoryArgument(corpus);
    controller.workspacePath =
        workspace.empty() ? defaultWorkspaceFor(controller.trainingCorpusPath) : directoryArgument(workspace);
    controller.trainingFormat = format;
    const CorpusCount count = countCategorisedCorpus(controller.trainingCorpusPath, format);
    if (count.documents == 0) {
        printError(std::string("不存在训练文档！ (no ") + "*" + documentExtension(format) +
                   " documents in the sub-directories of " + controller.trainingCorpusPath + ")");
        return 1;
    }
    controller.categoryCount = count.categories;
    controller.trainingDocCount = count.documents;
    if (!controller.workspaceOutsideTrainingCorpus()) return fail("训练文本预处理失败！", controller);
    if (!makeDirectory(controller.workspacePath)) {
        printError("cannot create the workspace directory " + controller.workspacePath);
        return 1;
    }
    // The whole run is one update of the workspace: it shows the old state
    // or all of the new one.
    if (!controller.beginUpdate("train")) return fail("无法使用工作目录！", controller);

    TerminalProgress progress;
    StageTimer timer(timings);
    if (!controller.preprocessTraining(&progress)) return fail("训练文本预处理失败！", controller);
    printWarnings(controller);
    timer.lap(progress, "preprocess");
    const auto& report = controller.preprocessReport();
    if (report.failed) {
        progress.finishLine();
        std::fprintf(stderr, "kestrel: %u of %u documents could not be preprocessed and were skipped\n",
                     report.failed, report.documents);
    }
    controller.buildIndex(&progress);
    printWarnings(controller);
    timer.lap(progress, "index");
    controller.selectionMode = mode;
    controller.newDimensionality = dim;
    if (!controller.selectFeatures(&progress)) return fail("特征选择失败！", controller);
    timer.lap(progress, "select");
    if (!controller.writeVectors(&progress)) return fail("训练文本向量写入失败！", controller);
    printWarnings(controller);
    timer.lap(progress, "vectors");
    if (const Status written = writeClassifierSettings(controller.workDirectory(), params, controller.fsInfo());
        !written) {
        printError(written.message());
        return 1;
    }
    if (!controller.commitUpdate()) return fail("无法保存工作目录！", controller);
    progress.finishLine();
    std::printf("workspace %s\n%u categories, %u training documents, %u candidate features, %u selected (%s), %s\n",
                toUtf8(controller.workspacePath).c_str(), controller.categoryCount, controller.trainingDocCount,
                controller.oldDimensionality(), controller.newDimensionality, selectionModeName(mode),
                params.classifier == ClassifierKind::Knn ? "KNN" : "SVM");
    return 0;
}

int runClassify(int argc, char** argv) {
    std::string corpus, workspace;
    InputFormat format = InputFormat::RawText;
    bool test = false, exportWorkbookToo = false, timings = false;
    unsigned threads = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        std::string v;
        if (name == "--help" || name == "-h") {
            std::fputs(kClassifyHelp, stdout);
            std::fputs(kCommonHelp, stdout);
            return 0;
        } else if (name == "--test") {
            test = true;
        } else if (name == "--export") {
            exportWorkbookToo = true;
        } else if (name == "--timings") {
            timings = true;
        } else if (name == "--corpus" || name == "--workspace" || name == "--format" || name == "--threads") {
            if (!optionValue(argc, argv, i, v)) return 2;
            uint32_t t = 0;
            if (name == "--corpus") corpus = v;
            else if (name == "--workspace") workspace = v;
            else if (name == "--format" ? !parseFormat(v, format) : !parseUnsigned(v, t)) {
                printError("bad value for " + name + ": " + v + " (see kestrel classify --help)");
                return 2;
            } else if (name == "--threads") {
                threads = t;
            }
        } else {
            printError((name.starts_with("-") ? "unknown option " : "unexpected argument ") + name +
                       " (see kestrel classify --help)");
            return 2;
        }
    }
    if (workspace.empty() || corpus.empty()) {
        printError("classify needs --workspace DIR and --corpus DIR (see kestrel classify --help)");
        return 2;
    }
    if (exportWorkbookToo && !test) {
        printError("--export needs --test: only a labelled corpus can be evaluated");
        return 2;
    }

    TextClassifier controller;
    controller.threads = threads;
    controller.startupDirectory = currentDirectory();
    controller.workspacePath = directoryArgument(workspace);
    if (!isDirectory(controller.workspacePath)) {
        printError("读取分类模型失败！ (the workspace " + workspace + " does not exist or is not a directory)");
        return 1;
    }
    if (!controller.beginUpdate("classify")) return fail("无法使用工作目录！", controller);
    if (!controller.loadClassifier()) return fail("读取分类模型失败！", controller);

    if (!isDirectory(corpus)) {
        printError("the corpus " + corpus + " does not exist or is not a directory");
        return 1;
    }
    controller.rawCorpusPath = directoryArgument(corpus);
    controller.rawFormat = format;
    controller.vectorMode = test ? kTestVectors : kExampleVectors;
    const uint32_t documents = test ? countCategorisedCorpus(controller.rawCorpusPath, format).documents
                                    : countDocuments(controller.rawCorpusPath, format);
    if (documents == 0) {
        printError(std::string("不存在原始文档！ (no ") + "*" + documentExtension(format) + " documents " +
                   (test ? "in the sub-directories of " : "in ") + controller.rawCorpusPath + ")");
        return 1;
    }
    controller.rawDocCount = documents;

    TerminalProgress progress;
    StageTimer timer(timings);
    if (!controller.preprocessRaw(&progress)) return fail("原始文本预处理失败！", controller);
    printWarnings(controller);
    timer.lap(progress, "preprocess");
    if (controller.rawDocuments().empty()) {
        printError(test ? "no document of the corpus lies in a directory named like a training category"
                        : "no document of the corpus could be preprocessed");
        return 1;
    }
    if (!controller.writeVectors(&progress)) return fail("原始文本向量写入失败！", controller);
    printWarnings(controller);
    timer.lap(progress, "vectors");
    const bool classified = controller.classify(&progress);
    printWarnings(controller);
    timer.lap(progress, "classify");
    if (!classified) return fail("文本分类失败！", controller);
    if (!controller.writeResults()) return fail("分类结果写入失败！", controller);
    if (!controller.commitUpdate()) return fail("无法保存工作目录！", controller);
    progress.finishLine();

    const auto& categories = controller.categories();
    auto categoryName = [&](int32_t id) {
        return id >= 0 && static_cast<size_t>(id) < categories.size() ? toUtf8(categories[static_cast<size_t>(id)].name)
                                                                       : std::string("-");
    };
    if (!test) {
        for (const auto& doc : controller.rawDocuments())
            std::printf("%s %s\n", toUtf8(doc.fileName).c_str(), categoryName(doc.assignedCategory).c_str());
        return 0;
    }
    const Evaluation evaluation(categories, controller.rawDocuments(), controller.rawDocCount);
    printReport(evaluation.overallReport());
    for (uint32_t c = 0; c < categories.size(); ++c) {
        std::printf("\n");
        printReport(evaluation.categoryReport(c));
    }
    if (exportWorkbookToo) {
        if (!controller.beginUpdate("export")) return fail("无法使用工作目录！", controller);
        if (const Status exported = exportWorkbook(controller.workDirectory(), evaluation, categories); !exported) {
            printError(exported.message());
            return 1;
        }
        if (!controller.commitUpdate()) return fail("无法保存工作目录！", controller);
        std::printf("\nexported to %s\n", toUtf8(controller.workspacePath + kEvaluationWorkbookName).c_str());
    }
    return 0;
}

}  // namespace kestrel::cli
