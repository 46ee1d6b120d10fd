// kestrel: the classification workbench without windows.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/CommandLine.h"
#include "cli/ExperimentCommand.h"
#include "cli/PipelineCommands.h"
#include "cli/SegStream.h"
#include "cli/SegmentCommand.h"
#include "cli/SvmCommands.h"
#include "common/Version.h"

namespace {

const char* const kHelp =
    "Usage: kestrel COMMAND [options]\n"
    "\n"
    "Builds and evaluates text classifiers over Chinese documents.\n"
    "\n"
    "Commands:\n"
    "  train         preprocess a training corpus, select features, write the workspace\n"
    "  classify      classify a corpus with a trained workspace (and evaluate a test corpus)\n"
    "  experiment    cross-validate a grid of selection and classifier parameters\n"
    "  segment       print the word lists of documents (--seg: as a stream of records)\n"
    "  unpack-seg    turn the records of segment --seg into .seg files\n"
    "  svm-learn     train one category's SVM model from a vector file\n"
    "  svm-classify  score a vector file with an SVM model\n"
    "\n"
    "kestrel COMMAND --help describes a command's options; kestrel --version prints\n"
    "the version.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("kestrel %s\n", kestrel::kestrelVersion());
        return 0;
    }
    using Runner = int (*)(int, char**);
    Runner runner = nullptr;
    if (command == "train") runner = kestrel::cli::runTrain;
    else if (command == "classify") runner = kestrel::cli::runClassify;
    else if (command == "experiment") runner = kestrel::cli::runExperiment;
    else if (command == "segment") runner = kestrel::runSegmentCommand;
    else if (command == "unpack-seg") runner = kestrel::runUnpackSeg;
    else if (command == "svm-learn") runner = kestrel::runSvmLearn;
    else if (command == "svm-classify") runner = kestrel::runSvmClassify;
    else {
        kestrel::cli::printError("unknown command " + command + " (see kestrel --help)");
        return 2;
    }
    return runner(argc - 1, argv + 1);
}
