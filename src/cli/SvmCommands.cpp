#include "cli/SvmCommands.h"

#include <chrono>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "classify/svm/CSVM.h"
#include "classify/svm/SvmOptions.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void printLearnHelp() {
    std::fprintf(stdout,
                 "usage: kestrel svm-learn [options] --category K TRAIN.dat MODEL.mdl\n"
                 "Trains the model of category K (label K is +1, every other label -1)\n"
                 "from the vector file TRAIN.dat and writes it to MODEL.mdl.\n"
                 "options:\n"
                 "%s"
                 "  -C X           upper bound of the multipliers (default: 1/r^2, r the mean\n"
                 "                 norm of the training vectors in feature space)\n"
                 "  --category K   category number, 1 or more (required)\n"
                 "  --help         this text\n",
                 svmOptionsHelp());
}

void printClassifyHelp() {
    std::fputs("usage: kestrel svm-classify INPUT.dat MODEL.mdl OUTPUT\n"
               "Scores every document line of INPUT.dat with the model and writes one\n"
               "decision value per line to OUTPUT.\n"
               "  --help         this text\n",
               stdout);
}

int usageError(const char* command, const std::string& message) {
    std::fprintf(stderr, "kestrel %s: %s (see --help)\n", command, message.c_str());
    return 2;
}

}  // namespace

int runSvmLearn(int argc, char** argv) {
    SvmSettings settings;
    double bound = 0.0;
    long category = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printLearnHelp();
            return 0;
        }
        std::string error;
        switch (parseSvmOption(argc, argv, i, settings, error)) {
        case SvmOptionResult::Consumed: continue;
        case SvmOptionResult::Error: return usageError("svm-learn", error);
        case SvmOptionResult::NotSvmOption: break;
        }
        if (arg == "-C" || arg == "--category") {
            if (i + 1 >= argc) return usageError("svm-learn", "option " + arg + " needs a value");
            std::string value = argv[++i];
            if (arg == "-C") {
                if (!parseOptionReal(value, bound) || bound < 0)
                    return usageError("svm-learn", "option -C: expected a number 0 or more, not \"" + value + "\"");
            } else if (!parseOptionLong(value, category) || category < 1 || category > 2147483647L) {
                return usageError("svm-learn", "option --category: expected a number 1 or more, not \"" + value + "\"");
            }
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') return usageError("svm-learn", "unknown option " + arg);
        files.push_back(arg);
    }
    if (category == 0) return usageError("svm-learn", "--category K is required");
    if (files.size() != 2) return usageError("svm-learn", "expected TRAIN.dat and MODEL.mdl");

    CSVM svm;
    svm.param.svmC = bound;
    svm.param.biasedHyperplane = settings.biased;
    svm.param.kernelType = settings.kernelType;
    svm.param.degree = int32_t(settings.degree);
    svm.param.gamma = settings.gamma;
    svm.param.coefLin = settings.coefS;
    svm.param.coefConst = settings.coefC;
    svm.param.tolerance = settings.tolerance;
    svm.param.trainFile = files[0];
    svm.param.modelFile = files[1];

    auto start = std::chrono::steady_clock::now();
    const Status status = svm.learn(int(category));
    double seconds = secondsSince(start);
    if (!svm.lastWarning().empty())
        std::fprintf(stderr, "kestrel svm-learn: warning: %s\n", svm.lastWarning().c_str());
    if (!status) {
        std::fprintf(stderr, "kestrel svm-learn: %s\n", status.message().c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "svm-learn: category %ld, %lld documents, %lld support vectors, %lld iterations, "
                 "%lld kernel evaluations, %.3f s\n",
                 category, (long long)svm.lastDocuments(), (long long)svm.lastSupportVectors(),
                 (long long)svm.lastIterations(), (long long)svm.lastKernelEvaluations(), seconds);
    return 0;
}

int runSvmClassify(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printClassifyHelp();
            return 0;
        }
        if (arg.size() > 1 && arg[0] == '-') return usageError("svm-classify", "unknown option " + arg);
        files.push_back(arg);
    }
    if (files.size() != 3) return usageError("svm-classify", "expected INPUT.dat MODEL.mdl OUTPUT");

    CSVM svm;
    svm.param.inputFile = files[0];
    svm.param.modelFile = files[1];
    std::vector<double> values;
    auto start = std::chrono::steady_clock::now();
    const Status status = svm.classifyFile(values);
    double seconds = secondsSince(start);
    if (!status) {
        std::fprintf(stderr, "kestrel svm-classify: %s\n", status.message().c_str());
        return 1;
    }
    if (svm.lastReport().rejected) {
        // Values could not be computed for every line: refuse rather than
        // write an output whose lines look complete.
        std::fprintf(stderr, "kestrel svm-classify: %s; no output written\n", svm.lastWarning().c_str());
        return 1;
    }
    std::string out;
    out.reserve(values.size() * 12);
    long positives = 0;
    for (double v : values) {
        char buffer[64];
        auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 8);
        (void)ec;
        out.append(buffer, ptr);
        out += '\n';
        if (v > 0) ++positives;
    }
    std::string error;
    if (!writeFileAtomically(files[2], out, &error)) {
        std::fprintf(stderr, "kestrel svm-classify: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "svm-classify: %zu documents, %ld positive, %ld negative, %.3f s\n",
                 values.size(), positives, long(values.size()) - positives, seconds);
    return 0;
}

}  // namespace kestrel
