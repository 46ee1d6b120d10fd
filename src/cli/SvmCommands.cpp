#include "cli/SvmCommands.h"

#include <chrono>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "classify/SvmEngine.h"
#include "classify/svm/CSVM.h"
#include "cli/SvmOptions.h"
#include "cli/OptionParser.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int runSvmLearn(int argc, char** argv) {
    SvmSettings settings;
    double bound = 0.0;
    long category = 0;
    std::vector<std::string> files;
    cli::OptionParser parser("svm-learn",
                             "Trains the model of category K (label K is +1, every other label -1)\n"
                             "from the vector file TRAIN.dat and writes it to MODEL.mdl.\n");
    CLI::App& app = parser.app();
    cli::addSvmOptions(app, settings);
    app.add_option_function<std::string>(
           "-C",
           [&bound](const std::string& value) {
               if (!parseOptionReal(value, bound) || bound < 0)
                   throw CLI::ValidationError("option -C: expected a number 0 or more, not \"" + value + "\"");
           },
           "upper bound of the multipliers (default: 1/r^2, r the mean norm of the training vectors in feature "
           "space)")
        ->option_text("X");
    app.add_option_function<std::string>(
           "--category",
           [&category](const std::string& value) {
               if (!parseOptionLong(value, category) || category < 1 || category > 2147483647L)
                   throw CLI::ValidationError("option --category: expected a number 1 or more, not \"" + value +
                                              "\"");
           },
           "category number, 1 or more (required)")
        ->option_text("K");
    app.add_option("FILES", files, "the vector file and the model file")->option_text("TRAIN.dat MODEL.mdl");
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    if (category == 0) return parser.usageError("--category K is required (see --help)");
    if (files.size() != 2) return parser.usageError("expected TRAIN.dat and MODEL.mdl (see --help)");

    CSVM svm;
    svm.param.svmC = bound;
    svm.param.setSettings(settings);
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
    cli::OptionParser parser("svm-classify",
                             "Scores every document line of INPUT.dat with the model and writes one\n"
                             "decision value per line to OUTPUT.\n");
    parser.app()
        .add_option("FILES", files, "the vector file, the model file and the output")
        ->option_text("INPUT.dat MODEL.mdl OUTPUT");
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    if (files.size() != 3) return parser.usageError("expected INPUT.dat MODEL.mdl OUTPUT (see --help)");

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
    if (const Status written = writeFileAtomically(files[2], out); !written) {
        std::fprintf(stderr, "kestrel svm-classify: %s\n", written.message().c_str());
        return 1;
    }
    std::fprintf(stderr, "svm-classify: %zu documents, %ld positive, %ld negative, %.3f s\n",
                 values.size(), positives, long(values.size()) - positives, seconds);
    return 0;
}

}  // namespace kestrel
