#include "cli/ExperimentCommand.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "app/ClassifierChoice.h"
#include "app/CorpusCounting.h"
#include "app/WorkspaceTransaction.h"
#include "classify/svm/SvmOptions.h"
#include "cli/CommandLine.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "evaluate/WorkbookExport.h"
#include "experiment/ExperimentReport.h"
#include "experiment/ExperimentRunner.h"

namespace kestrel::cli {

namespace {

const char* const kHelp =
    "usage: kestrel experiment --corpus DIR [options]\n"
    "\n"
    "Evaluates every combination of the listed parameter values by stratified\n"
    "K-fold cross-validation over the corpus (or on a held-out test corpus) and\n"
    "prints one row per combination, ranked by micro F1, with the mean and\n"
    "standard deviation over the folds. Lists are comma-separated.\n"
    "\n"
    "  --corpus DIR            training corpus, one sub-directory per category (required)\n"
    "  --format txt|seg        raw text (segmented once, here) or segmented *.seg (default txt)\n"
    "  --folds K               number of folds, at least 2 (default 10)\n"
    "  --test DIR              evaluate on this labelled corpus instead of folds\n"
    "  --repeat R              repeat the cross-validation with R fold assignments (default 1)\n"
    "  --seed S                seed of the fold assignment (default 1)\n"
    "  --select LIST           chi, ig, mi, rs (default chi)\n"
    "  --dim LIST              numbers of features (default 50)\n"
    "  --classifier LIST       knn, svm (default knn)\n"
    "  -k LIST                 KNN neighbours, 1..100 (default 20)\n"
    "  --similarity LIST       cosine, manhattan, euclidean (default cosine)\n"
    "  --kernel LIST           SVM kernels: linear, poly, rbf, sigmoid (default linear)\n"
    "  -d LIST, -g LIST, -s LIST, -c LIST\n"
    "                          SVM degree (poly), width (rbf), factor and constant (poly, sigmoid)\n"
    "  --no-bias               SVM hyperplane through the origin\n"
    "  --workspace DIR         where temporary workspaces and the export go\n"
    "                          (default: \"model\" beside the corpus)\n"
    "  --export                add the table to the sheet 实验 of 分类评价.xlsx in the\n"
    "                          workspace and write a chart of the scores beside it\n"
    "  --threads N             cores to use (default: every core)\n"
    "  --keep                  keep the temporary workspaces\n";

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted = true;
    // A second Ctrl-C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
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

bool parseChoice(const std::string& item, int& value, std::initializer_list<const char*> names) {
    int code = 0;
    for (const char* name : names) {
        if (item == name) {
            value = code;
            return true;
        }
        ++code;
    }
    return false;
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

}  // namespace

int runExperiment(int argc, char** argv) {
    ExperimentSettings settings;
    ParameterGrid grid;
    std::string corpus, test, workspace;
    bool exportToo = false, foldsGiven = false;
    uint32_t folds = 10, repeats = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (name == "--export") {
            exportToo = true;
            continue;
        }
        if (name == "--keep") {
            settings.keepTemporary = true;
            continue;
        }
        if (name == "--no-bias") {
            grid.biased = 0;
            continue;
        }
        const bool takesValue = name == "--corpus" || name == "--format" || name == "--folds" || name == "--test" ||
                                name == "--repeat" || name == "--seed" || name == "--select" || name == "--dim" ||
                                name == "--classifier" || name == "-k" || name == "--similarity" ||
                                name == "--kernel" || name == "-d" || name == "-g" || name == "-s" || name == "-c" ||
                                name == "--workspace" || name == "--threads";
        if (!takesValue) {
            printError((name.starts_with("-") ? "unknown option " : "unexpected argument ") + name +
                       " (see kestrel experiment --help)");
            return 2;
        }
        std::string v;
        if (!optionValue(argc, argv, i, v)) return 2;
        bool ok = true;
        if (name == "--corpus") corpus = v;
        else if (name == "--test") test = v;
        else if (name == "--workspace") workspace = v;
        else if (name == "--format") {
            ok = takeParsed(parseInputFormat(v), settings.inputFormat);
        } else if (name == "--folds") {
            ok = parseUnsigned(v, folds);
            foldsGiven = true;
        } else if (name == "--repeat") {
            ok = parseUnsigned(v, repeats) && repeats >= 1;
        } else if (name == "--seed") {
            uint32_t seed = 0;
            ok = parseUnsigned(v, seed);
            settings.seed = seed;
        } else if (name == "--threads") {
            uint32_t threads = 0;
            ok = parseUnsigned(v, threads);
            settings.threads = threads;
        } else if (name == "--select") {
            ok = parseList<int>(v, grid.selections,
                                [](const std::string& s, int& out) { return parseChoice(s, out, {"chi", "ig", "mi", "rs"}); });
        } else if (name == "--dim") {
            ok = parseList<uint32_t>(v, grid.dimensions, [](const std::string& s, uint32_t& out) {
                return parseUnsigned(s, out) && out >= 1;
            });
        } else if (name == "--classifier") {
            ok = parseList<ClassifierKind>(v, grid.classifiers, [](const std::string& s, ClassifierKind& out) {
                return takeParsed(parseClassifier(s), out);
            });
        } else if (name == "-k") {
            ok = parseList<uint32_t>(v, grid.neighbours, [](const std::string& s, uint32_t& out) {
                return parseUnsigned(s, out) && out >= 1 && out <= 100;
            });
        } else if (name == "--similarity") {
            ok = parseList<Similarity>(v, grid.similarities, [](const std::string& s, Similarity& out) {
                return takeParsed(parseSimilarity(s), out);
            });
        } else if (name == "--kernel") {
            ok = parseList<int>(v, grid.kernels, [](const std::string& s, int& out) {
                return parseChoice(s, out, {"linear", "poly", "rbf", "sigmoid"});
            });
        } else if (name == "-d") {
            ok = parseList<long>(v, grid.degrees, [](const std::string& s, long& out) {
                return parseOptionLong(s, out) && out >= -2147483647L && out <= 2147483647L;
            });
        } else {
            std::vector<double>& target = name == "-g" ? grid.gammas : name == "-s" ? grid.factors : grid.constants;
            ok = parseList<double>(v, target, [](const std::string& s, double& out) { return parseOptionReal(s, out); });
        }
        if (!ok) {
            printError("bad value for " + name + ": " + v + " (see kestrel experiment --help)");
            return 2;
        }
    }
    if (corpus.empty()) {
        printError("experiment needs --corpus DIR (see kestrel experiment --help)");
        return 2;
    }
    if (!test.empty() && (foldsGiven || repeats > 1)) {
        printError("--test evaluates on a held-out corpus: --folds and --repeat belong to cross-validation");
        return 2;
    }
    if (test.empty() && folds < 2) {
        printError(formatString("--folds %u: cross-validation needs at least 2 folds (or --test DIR for a held-out "
                                "corpus)",
                                folds));
        return 2;
    }
    if (!isDirectory(corpus)) {
        printError("the training corpus " + corpus + " does not exist or is not a directory");
        return 1;
    }
    if (!test.empty() && !isDirectory(test)) {
        printError("the test corpus " + test + " does not exist or is not a directory");
        return 1;
    }

    settings.corpusPath = directoryArgument(corpus);
    settings.testPath = test.empty() ? std::string() : directoryArgument(test);
    settings.workspacePath = workspace.empty() ? defaultWorkspaceFor(settings.corpusPath) : directoryArgument(workspace);
    settings.startupDirectory = currentDirectory();
    settings.folds = folds;
    settings.repeats = repeats;
    const std::vector<Combination> combinations = expandGrid(grid);

    std::signal(SIGINT, onInterrupt);
    ExperimentProgress progress;
    const double started = nowSeconds();
    std::vector<CombinationResult> results;
    {
        Experiment experiment(settings, combinations);
        if (const Status prepared = experiment.prepare(&progress); !prepared) {
            progress.finishLine();
            for (const auto& w : experiment.warnings()) printWarning(w);
            printError(interrupted ? std::string("stopped before any combination was evaluated") : prepared.message());
            return interrupted ? 130 : 1;
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
    }
    std::signal(SIGINT, SIG_DFL);

    const std::vector<ExperimentRow> rows = rankResults(results);
    std::fputs(experimentTable(rows).c_str(), stdout);
    const double total = nowSeconds() - started;
    if (interrupted)
        std::printf("\nstopped: %zu of %zu combinations finished\n", results.size(), combinations.size());
    std::printf("\ntotal time %.1f s\n", total);

    const bool anyEvaluated = !rows.empty() && rows.front().failure.empty();
    if (anyEvaluated) {
        const ExperimentRow& best = rows.front();
        std::printf("best: %s (micro F1 %.2f%% ± %.2f, macro F1 %.2f%% ± %.2f)\n",
                    combinationName(best.combination).c_str(), best.microF1.mean, best.microF1.deviation,
                    best.macroF1.mean, best.macroF1.deviation);
        std::printf("  kestrel train --corpus %s%s %s\n", shellWord(corpus).c_str(),
                    settings.inputFormat == InputFormat::Preprocessed ? " --format seg" : "",
                    trainArguments(best.combination).c_str());
        if (!test.empty())
            std::printf("  kestrel classify --workspace %s --corpus %s --test%s\n",
                        shellWord(defaultWorkspaceFor(settings.corpusPath)).c_str(), shellWord(test).c_str(),
                        settings.inputFormat == InputFormat::Preprocessed ? " --format seg" : "");
    }
    if (exportToo && !rows.empty()) {
        ExperimentRun run;
        run.time = localTime("%Y-%m-%d %H:%M:%S");
        run.stamp = localTime("%Y%m%d-%H%M%S");
        run.corpus = toUtf8(settings.corpusPath);
        run.validation = test.empty() ? formatString("%u-fold cross-validation, seed %llu", folds,
                                                     static_cast<unsigned long long>(settings.seed)) +
                                            (repeats > 1 ? formatString(", %u repetitions", repeats) : std::string())
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
        std::printf("exported to %s (sheet %s) and %s\n",
                    toUtf8(settings.workspacePath + kEvaluationWorkbookName).c_str(), kExperimentSheetName,
                    toUtf8(settings.workspacePath + experimentChartName(run)).c_str());
    }
    if (interrupted) return 130;
    if (!anyEvaluated) {
        printError("no combination could be evaluated");
        return 1;
    }
    return 0;
}

}  // namespace kestrel::cli
