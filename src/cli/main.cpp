// kestrel: the classification workbench without windows.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/ExperimentCommand.h"
#include "cli/OptionParser.h"
#include "cli/PipelineCommands.h"
#include "cli/SegStream.h"
#include "cli/SegmentCommand.h"
#include "cli/SvmCommands.h"
#include "common/Version.h"

namespace {

const char* const kDescription = "Builds and evaluates text classifiers over Chinese documents.\n";

const char* const kCommands =
    "Commands:\n"
    "  train         preprocess a training corpus, select features, write the workspace\n"
    "  classify      classify a corpus with a trained workspace (and evaluate a test corpus)\n"
    "  experiment    cross-validate a grid of selection and classifier parameters\n"
    "  segment       print the word lists of documents (--seg: as a stream of records)\n"
    "  unpack-seg    turn the records of segment --seg into .seg files\n"
    "  svm-learn     train one category's SVM model from a vector file\n"
    "  svm-classify  score a vector file with an SVM model\n"
    "\n"
    "kestrel COMMAND --help describes a command's options.";

using Runner = int (*)(int, char**);

Runner commandRunner(const std::string& command) {
    if (command == "train") return kestrel::cli::runTrain;
    if (command == "classify") return kestrel::cli::runClassify;
    if (command == "experiment") return kestrel::cli::runExperiment;
    if (command == "segment") return kestrel::runSegmentCommand;
    if (command == "unpack-seg") return kestrel::runUnpackSeg;
    if (command == "svm-learn") return kestrel::runSvmLearn;
    if (command == "svm-classify") return kestrel::runSvmClassify;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    kestrel::cli::OptionParser parser("", kDescription);
    CLI::App& app = parser.app();
    // Everything from the command on belongs to the command.
    app.prefix_command();
    app.set_version_flag("--version", std::string("kestrel ") + kestrel::kestrelVersion(), "print the version");
    app.footer(kCommands);
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;
    const std::vector<std::string> rest = app.remaining();
    if (rest.empty()) {
        std::fputs(app.help().c_str(), stderr);
        return 2;
    }
    if (rest[0] == "help") {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    }
    const Runner runner = commandRunner(rest[0]);
    if (!runner) {
        kestrel::cli::printError("unknown command " + rest[0] + " (see kestrel --help)");
        return 2;
    }
    const int first = argc - static_cast<int>(rest.size());
    return runner(argc - first, argv + first);
}
