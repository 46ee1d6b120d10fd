// Trains one-versus-rest SVM models the way the pipeline controller does:
// one engine (one CSVM) for the whole run, all categories through learnAll
// (so the solver's tuning values carry over from one category to the next,
// and the engine may train two at a time), then optionally scores a vector
// file with every model (read whole, as the program reads it). Prints the
// times.
//
//   kestrel-svm-bench [options] TRAIN.dat
//     --kernel T      linear|poly|rbf|sigmoid|custom or 0..4 (default linear)
//     -C X -d N -g X -s X -r X   C, degree, gamma, s and c of the kernel
//     -q N -n N       largest subproblem and new variables per iteration
//     --from-zero     linear kernel: the decomposition starts from 0, not from
//                     a coordinate-descent solution
//     --no-bias       threshold fixed at 0
//     --categories N  categories 1..N (default: the largest label of TRAIN.dat)
//     --repeat R      run the whole sequence R times in the same CSVM
//     --models DIR    where the model files go (default: a temporary directory)
//     --test FILE     score FILE with every model; values go to DIR/values<k>.txt
//     --no-train      use the models already in --models DIR (with --test)
//     --sequential    call learn for each category instead of learnAll
//     --threads N     threads of the engine (default: every core)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "classify/svm/CSVM.h"
#include "classify/svm/CsvmEngine.h"
#include "common/FileSystem.h"
#include "features/VectorFile.h"

using namespace kestrel;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int usage(const std::string& message) {
    std::fprintf(stderr, "kestrel-svm-bench: %s\n", message.c_str());
    return 2;
}

int kernelNumber(const std::string& name) {
    if (name == "linear" || name == "0") return 0;
    if (name == "poly" || name == "1") return 1;
    if (name == "rbf" || name == "2") return 2;
    if (name == "sigmoid" || name == "3") return 3;
    if (name == "custom" || name == "4") return 4;
    return -1;
}

long largestLabel(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    long largest = 0;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') largest = std::max(largest, std::strtol(line.c_str(), nullptr, 10));
    return largest;
}

}  // namespace

int main(int argc, char** argv) {
    CsvmEngine engine;
    CSVM& svm = engine.svm();
    bool sequential = false;
    long categories = 0;
    int repeat = 1;
    bool training = true;
    std::string models, test, train;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kestrel-svm-bench: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--kernel") {
            svm.param.kernelType = kernelNumber(value());
            if (svm.param.kernelType < 0) return usage("unknown kernel " + std::string(argv[i]));
        } else if (arg == "-C") {
            svm.param.svmC = std::atof(value().c_str());
        } else if (arg == "-d") {
            svm.param.degree = std::atoi(value().c_str());
        } else if (arg == "-g") {
            svm.param.gamma = std::atof(value().c_str());
        } else if (arg == "-s") {
            svm.param.coefLin = std::atof(value().c_str());
        } else if (arg == "-r") {
            svm.param.coefConst = std::atof(value().c_str());
        } else if (arg == "-q") {
            svm.param.maxQpSize = std::atoi(value().c_str());
        } else if (arg == "-n") {
            svm.param.newVarsInQp = std::atoi(value().c_str());
        } else if (arg == "--from-zero") {
            svm.param.linearStart = 0;
        } else if (arg == "--no-bias") {
            svm.param.biasedHyperplane = 0;
        } else if (arg == "--categories") {
            categories = std::atol(value().c_str());
        } else if (arg == "--repeat") {
            repeat = std::max(1, std::atoi(value().c_str()));
        } else if (arg == "--models") {
            models = value();
        } else if (arg == "--test") {
            test = value();
        } else if (arg == "--threads") {
            engine.setThreads(unsigned(std::max(0, std::atoi(value().c_str()))));
        } else if (arg == "--sequential") {
            sequential = true;
        } else if (arg == "--no-train") {
            training = false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option " + arg);
        } else {
            train = arg;
        }
    }
    if (train.empty()) return usage("usage: kestrel-svm-bench [options] TRAIN.dat");
    if (categories <= 0) categories = largestLabel(train);
    if (categories <= 0) return usage("no categories in " + train);
    bool scratch = models.empty();
    if (!training && (scratch || test.empty())) return usage("--no-train needs --models and --test");
    if (scratch) {
        char pattern[] = "/tmp/kestrel-svm-bench-XXXXXX";
        if (!mkdtemp(pattern)) return usage("cannot create a temporary directory");
        models = pattern;
    }
    models += "/";

    svm.param.trainFile = train;
    auto start = std::chrono::steady_clock::now();
    int failures = 0;
    std::vector<SvmEngine::Job> jobs;
    for (long k = 1; k <= categories; ++k)
        jobs.push_back({unsigned(k), models + "model" + std::to_string(k) + ".mdl"});
    for (int r = 0; r < repeat && training; ++r) {
        if (sequential) {
            for (long k = 1; k <= categories; ++k) {
                svm.param.modelFile = jobs[size_t(k - 1)].modelFile;
                if (const Status status = svm.learn(int(k)); !status) {
                    std::fprintf(stderr, "category %ld: %s\n", k, status.message().c_str());
                    ++failures;
                }
            }
            continue;
        }
        std::vector<SvmEngine::JobResult> results = engine.learnAll(train, jobs, nullptr, nullptr);
        for (size_t j = 0; j < results.size(); ++j)
            if (!results[j].ok) {
                std::fprintf(stderr, "category %zu: %s\n", j + 1, results[j].error.c_str());
                ++failures;
            }
    }
    const double trainSeconds = seconds(start);

    double classifySeconds = 0.0;
    if (!test.empty()) {
        // The test file is read once and every model scores the documents
        // in memory, as the program classifies.
        auto begin = std::chrono::steady_clock::now();
        Result<VectorSet> read = readVectorFile(test, RejectedLines::kSkip);
        if (!read) return usage(read.message());
        const std::vector<DocumentVector> docs = std::move(read->docs);
        std::vector<double> values;
        for (long k = 1; k <= categories; ++k) {
            const Status status = svm.classifyDocuments(docs, models + "model" + std::to_string(k) + ".mdl", values);
            if (!status) {
                std::fprintf(stderr, "classify %ld: %s\n", k, status.message().c_str());
                ++failures;
                continue;
            }
            std::FILE* out = std::fopen((models + "values" + std::to_string(k) + ".txt").c_str(), "w");
            if (!out) return usage("cannot write the values of category " + std::to_string(k));
            for (double v : values) std::fprintf(out, "%.17g\n", v);
            std::fclose(out);
        }
        classifySeconds = seconds(begin);
    }
    std::printf("categories %ld repeat %d train_seconds %.4f classify_seconds %.4f run_ahead_kept %zu redone %zu\n",
                categories, repeat, trainSeconds, classifySeconds, engine.speculationsKept(),
                engine.speculationsRedone());
    if (scratch) {
        for (long k = 1; k <= categories; ++k) {
            std::remove((models + "model" + std::to_string(k) + ".mdl").c_str());
            std::remove((models + "values" + std::to_string(k) + ".txt").c_str());
        }
        rmdir(models.c_str());
    }
    return failures ? 1 : 0;
}
