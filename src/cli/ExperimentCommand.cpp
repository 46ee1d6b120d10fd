#include "cli/ExperimentCommand.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "workspace/DefaultWorkspace.h"
#include "workspace/ParameterNames.h"
#include "app/CorpusCounting.h"
#include "workspace/WorkspaceTransaction.h"
#include "cli/SvmOptions.h"
#include "cli/CommandLine.h"
#include "cli/OptionParser.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "evaluate/WorkbookExport.h"
#include "experiment/ExperimentReport.h"
#include "experiment/ExperimentRunner.h"

namespace kestrel::cli {

namespace {

const char* const kDescription =
    "Evaluates every combination of the listed parameter values by stratified\n"
    "K-fold cross-validation over the corpus (or on a held-out test corpus) and\n"
    "prints one row per combination, ranked by micro F1, with the mean and\n"
    "standard deviation over the folds. Lists are comma-separated.\n";

std::atomic<bool> interrupted{false};
std::atomic<int> interruptSignal{0};

// Ctrl-C (SIGINT) and a polite kill (SIGTERM) stop the run after the
// current step, so that the temporary workspaces are removed and the
// finished combinations printed; the exit status is then 128 + the signal's
// number (130, 143), as a shell reports a process the signal ended.
extern "C" void onInterrupt(int signal) {
    interruptSignal = signal;
    interrupted = true;
    // A second one ends the program at once.
    std::signal(signal, SIG_DFL);
}

// Terminal progress that also stops the run on Ctrl-C.
class ExperimentProgress : public TerminalProgress {
public:
    bool cancelled() const override { return interrupted.load(); }
};

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

// Parses every item of a list with `parse`; false when one is bad or empty.
template <typename T>
bool parseList(const std::string& text, std::vector<T>& out, const std::function<bool(const std::string&, T&)>& parse) {
    out.clear();
    for (const auto& item : splitList(text)) {
        T value{};
        if (item.empty() || !parse(item, value)) return false;
        out.push_back(value);
    }
    return !out.empty();
}

// Stores a parsed choice; false when the name was not one.
template <class T>
bool takeParsed(const std::optional<T>& parsed, T& out) {
    if (parsed) out = *parsed;
    return parsed.has_value();
}

// A path as a shell reads it back.
std::string shellWord(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_of(" \t\n'\"\\$`!*?[]{}()<>|&;#~=%") == std::string::npos;
    if (plain) return text;
    std::string out = "'";
    for (const char ch : text) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return out + "'";
}

std::string localTime(const char* format) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, format, &tm);
    return buffer;
}


struct ExperimentOptions {
    ExperimentSettings settings;
    ParameterGrid grid;
    std::string corpus, test, workspace;
    bool exportToo = false;
    uint32_t folds = 10, repeats = 1;
    bool foldsGiven = false;
};

// An option holding a comma-separated list, each item read by `parse`.
template <typename T>
void addList(OptionParser& parser, const std::string& name, std::vector<T>& target,
             std::function<bool(const std::string&, T&)> parse, const std::string& description) {
    parser.app()
        .add_option_function<std::string>(
            name,
            [&parser, name, &target, parse = std::move(parse)](const std::string& value) {
                if (!parseList<T>(value, target, parse)) parser.refuse(name, value);
            },
            description)
        ->option_text("LIST");
}

// An option holding one whole number read by `accept`.
void addWhole(OptionParser& parser, const std::string& name, const std::function<bool(uint32_t)>& accept,
              const std::string& description) {
    parser.app()
        .add_option_function<std::string>(
            name,
            [&parser, name, accept](const std::string& value) {
                uint32_t number = 0;
                if (!parseUnsigned(value, number) || !accept(number)) parser.refuse(name, value);
            },
            description)
        ->option_text("N");
}

// The grid's lists: what is selected and how it is classified.
void addGridOptions(OptionParser& parser, ParameterGrid& grid) {
    addList<int>(parser, "--select", grid.selections,
                 [](const std::string& s, int& out) { return takeParsed(parseSelection(s), out); },
                 choiceList(selectionChoices(), ", ") + " (default chi)");
    addList<uint32_t>(parser, "--dim", grid.dimensions,
                      [](const std::string& s, uint32_t& out) { return parseUnsigned(s, out) && out >= 1; },
                      "numbers of features (default 50)");
    addList<ClassifierKind>(parser, "--classifier", grid.classifiers,
                            [](const std::string& s, ClassifierKind& out) { return takeParsed(parseClassifier(s), out); },
                            choiceList(classifierChoices(), ", ") + " (default knn)");
    addList<uint32_t>(parser, "-k", grid.neighbours,
                      [](const std::string& s, uint32_t& out) {
                          return parseUnsigned(s, out) && out >= 1 && out <= 100;
                      },
                      "KNN neighbours, 1..100 (default 20)");
    addList<Similarity>(parser, "--similarity", grid.similarities,
                        [](const std::string& s, Similarity& out) { return takeParsed(parseSimilarity(s), out); },
                        choiceList(similarityChoices(), ", ") + " (default cosine)");
    addList<int>(parser, "--kernel", grid.kernels,
                 [](const std::string& s, int& out) { return takeParsed(parseKernel(s), out); },
                 "SVM kernels: " + choiceList(kernelChoices(), ", ") + " (default linear)");
    addList<long>(parser, "-d", grid.degrees,
                  [](const std::string& s, long& out) {
                      return parseOptionLong(s, out) && out >= -2147483647L && out <= 2147483647L;
                  },
                  "SVM degree (poly)");
    const auto real = [](const std::string& s, double& out) { return parseOptionReal(s, out); };
    addList<double>(parser, "-g", grid.gammas, real, "SVM width (rbf)");
    addList<double>(parser, "-s", grid.factors, real, "SVM factor of the dot product (poly, sigmoid)");
    addList<double>(parser, "-c", grid.constants, real, "SVM additive constant (poly, sigmoid)");
    parser.app().add_flag_callback("--no-bias", [&grid] { grid.biased = 0; }, "SVM hyperplane through the origin");
}

// The options of experiment; -1 when the experiment is to run, else the
// status.
int parseExperimentOptions(int argc, char** argv, ExperimentOptions& o) {
    OptionParser parser("experiment", kDescription);
    CLI::App& app = parser.app();
    ExperimentSettings& settings = o.settings;
    app.add_option("--corpus", o.corpus, "training corpus, one sub-directory per category (required)")
        ->option_text("DIR");
    parser.app()
        .add_option_function<std::string>(
            "--format",
            [&parser, &settings](const std::string& value) {
                if (!takeParsed(parseInputFormat(value), settings.inputFormat)) parser.refuse("--format", value);
            },
            "raw text (segmented once, here) or segmented *.seg (default txt)")
        ->option_text("txt|seg");
    addWhole(parser, "--folds",
             [&o](uint32_t n) {
                 o.folds = n;
                 o.foldsGiven = true;
                 return true;
             },
             "number of folds, at least 2 (default 10)");
    app.add_option("--test", o.test, "evaluate on this labelled corpus instead of folds")->option_text("DIR");
    addWhole(parser, "--repeat",
             [&o](uint32_t n) {
                 o.repeats = n;
                 return n >= 1;
             },
             "repeat the cross-validation with R fold assignments (default 1)");
    addWhole(parser, "--seed",
             [&settings](uint32_t n) {
                 settings.seed = n;
                 return true;
             },
             "seed of the fold assignment (default 1)");
    addGridOptions(parser, o.grid);
    app.add_option("--workspace", o.workspace,
                   "where temporary workspaces and the export go (default: \"model\" beside the corpus)")
        ->option_text("DIR");
    app.add_flag("--export", o.exportToo,
                 "add the table to the sheet 实验 of 分类评价.xlsx in the workspace and write a chart of the scores "
                 "beside it");
    addWhole(parser, "--threads",
             [&settings](uint32_t n) {
                 settings.threads = n;
                 return true;
             },
             "cores to use (default: every core)");
    app.add_flag("--keep", settings.keepTemporary, "keep the temporary workspaces");
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    if (o.corpus.empty()) return parser.usageError("experiment needs --corpus DIR (see kestrel experiment --help)");
    if (!o.test.empty() && (o.foldsGiven || o.repeats > 1))
        return parser.usageError("--test evaluates on a held-out corpus: --folds and --repeat belong to "
                                 "cross-validation");
    if (o.test.empty() && o.folds < 2)
        return parser.usageError(fmt::format("--folds {}: cross-validation needs at least 2 folds (or --test DIR for a "
                                             "held-out corpus)",
                                             o.folds));
    return -1;
}

// Checks the corpora and fills in the settings that follow from them; -1
// when the experiment can start, else the status.
int prepareSettings(ExperimentOptions& o) {
    if (!isDirectory(o.corpus)) {
        printError("the training corpus " + o.corpus + " does not exist or is not a directory");
        return 1;
    }
    if (!o.test.empty() && !isDirectory(o.test)) {
        printError("the test corpus " + o.test + " does not exist or is not a directory");
        return 1;
    }
    ExperimentSettings& settings = o.settings;
    settings.corpusPath = directoryArgument(o.corpus);
    settings.testPath = o.test.empty() ? std::string() : directoryArgument(o.test);
    settings.workspacePath =
        o.workspace.empty() ? defaultWorkspaceFor(settings.corpusPath) : directoryArgument(o.workspace);
    settings.startupDirectory = currentDirectory();
    settings.folds = o.folds;
    settings.repeats = o.repeats;
    return -1;
}

// Prepares the folds and evaluates every combination, reporting each on
// standard error as it finishes; -1 with the results, else the status.
int evaluateCombinations(const ExperimentSettings& settings, const std::vector<Combination>& combinations,
                         double started, std::vector<CombinationResult>& results) {
    ExperimentProgress progress;
    Experiment experiment(settings, combinations);
    if (const Status prepared = experiment.prepare(&progress); !prepared) {
        progress.finishLine();
        for (const auto& w : experiment.warnings()) printWarning(w);
        printError(interrupted ? std::string("stopped before any combination was evaluated") : prepared.message());
        return interrupted ? 128 + interruptSignal.load() : 1;
    }
    progress.finishLine();
    for (const auto& w : experiment.warnings()) printWarning(w);
    std::fprintf(stderr, "kestrel: %zu combinations, %s; prepared in %.1f s\n", combinations.size(),
                 experiment.parallelNote().c_str(), nowSeconds() - started);
    size_t finished = 0;
    results = experiment.run(&progress, [&](const CombinationResult& r, size_t) {
        progress.finishLine();
        ++finished;
        const std::string name = combinationName(r.combination);
        if (r.evaluated()) {
            const ExperimentRow row = rankResults({r}).front();
            std::fprintf(stderr, "kestrel: [%zu/%zu] %s: micro F1 %.2f%%, macro F1 %.2f%% (%.1f s)\n", finished,
                         combinations.size(), name.c_str(), row.microF1.mean, row.macroF1.mean, nowSeconds() - started);
        } else {
            std::fprintf(stderr, "kestrel: [%zu/%zu] %s failed: %s\n", finished, combinations.size(), name.c_str(),
                         r.failure.c_str());
        }
    });
    progress.finishLine();
    for (const auto& w : experiment.warnings()) printWarning(w);
    if (settings.keepTemporary)
        std::fprintf(stderr, "kestrel: temporary workspaces kept in %s\n", toUtf8(experiment.temporaryPath()).c_str());
    return -1;
}

// The best combination and the commands that train (and test) it.
void printBest(const ExperimentOptions& o, const ExperimentRow& best) {
    const ExperimentSettings& settings = o.settings;
    std::printf("best: %s (micro F1 %.2f%% ± %.2f, macro F1 %.2f%% ± %.2f)\n",
                combinationName(best.combination).c_str(), best.microF1.mean, best.microF1.deviation,
                best.macroF1.mean, best.macroF1.deviation);
    std::printf("  kestrel train --corpus %s%s %s\n", shellWord(o.corpus).c_str(),
                settings.inputFormat == InputFormat::Preprocessed ? " --format seg" : "",
                trainArguments(best.combination).c_str());
    if (!o.test.empty())
        std::printf("  kestrel classify --workspace %s --corpus %s --test%s\n",
                    shellWord(defaultWorkspaceFor(settings.corpusPath)).c_str(), shellWord(o.test).c_str(),
                    settings.inputFormat == InputFormat::Preprocessed ? " --format seg" : "");
}

// Adds the table to the workbook and writes the chart; 0 or the status.
int exportRows(const ExperimentOptions& o, const std::vector<ExperimentRow>& rows) {
    const ExperimentSettings& settings = o.settings;
    ExperimentRun run;
    run.time = localTime("%Y-%m-%d %H:%M:%S");
    run.stamp = localTime("%Y%m%d-%H%M%S");
    run.corpus = toUtf8(settings.corpusPath);
    run.validation = o.test.empty() ? fmt::format("{}-fold cross-validation, seed {}", o.folds, settings.seed) +
                                          (o.repeats > 1 ? fmt::format(", {} repetitions", o.repeats) : std::string())
                                    : "test corpus " + toUtf8(settings.testPath);
    // The workbook changes under the workspace's lock, recorded in its manifest.
    WorkspaceTransaction update(settings.workspacePath);
    Status exported = update.begin("experiment export");
    if (exported) exported = exportExperiment(settings.workspacePath, update.directory(), run, rows);
    if (exported) exported = update.commit();
    if (!exported) {
        printError(exported.message());
        return 1;
    }
    std::printf("exported to %s (sheet %s) and %s\n", toUtf8(settings.workspacePath + kEvaluationWorkbookName).c_str(),
                kExperimentSheetName, toUtf8(settings.workspacePath + experimentChartName(run)).c_str());
    return 0;
}

}  // namespace

int runExperiment(int argc, char** argv) {
    ExperimentOptions o;
    if (const int exit = parseExperimentOptions(argc, argv, o); exit >= 0) return exit;
    if (const int exit = prepareSettings(o); exit >= 0) return exit;
    const std::vector<Combination> combinations = expandGrid(o.grid);

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const double started = nowSeconds();
    std::vector<CombinationResult> results;
    if (const int exit = evaluateCombinations(o.settings, combinations, started, results); exit >= 0) return exit;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);

    const std::vector<ExperimentRow> rows = rankResults(results);
    std::fputs(experimentTable(rows).c_str(), stdout);
    if (interrupted)
        std::printf("\nstopped: %zu of %zu combinations finished\n", results.size(), combinations.size());
    std::printf("\ntotal time %.1f s\n", nowSeconds() - started);

    const bool anyEvaluated = !rows.empty() && rows.front().failure.empty();
    if (anyEvaluated) printBest(o, rows.front());
    if (o.exportToo && !rows.empty())
        if (const int exit = exportRows(o, rows); exit != 0) return exit;
    if (interrupted) return 128 + interruptSignal.load();
    if (!anyEvaluated) {
        printError("no combination could be evaluated");
        return 1;
    }
    return 0;
}

}  // namespace kestrel::cli
