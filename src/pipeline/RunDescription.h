#pragma once
// The options of one training or one classification run, each in one record:
// what the command line, the experiment runner and the tests hand to the
// pipeline instead of setting the controller's fields one by one.
#include <cstdint>
#include <memory>
#include <string>

#include "common/Corpus.h"
#include "pipeline/CorpusListing.h"
#include "workspace/WorkspaceFiles.h"

namespace kestrel {

// How the features of a training run are selected.
struct SelectionParams {
    int mode = kChi;          // SelectionMode
    uint32_t dimension = 50;  // features asked for; clipped to the candidates
};

// Where a run keeps its files and how much of the machine it uses.
struct RunEnvironment {
    std::string workspace;         // workspace directory, with trailing '/'
    std::string startupDirectory;  // where the segmenter's "data" directory is looked up
    unsigned threads = 0;          // 0: every core
};

// Training: a corpus with one sub-directory per category, turned into the
// workspace's features, training vectors and classifier parameters.
struct TrainingRun {
    RunEnvironment environment;
    std::string corpus;                      // with trailing '/'
    InputFormat format = InputFormat::RawText;
    uint32_t categoryCount = 0;              // sub-directories of the corpus taken as categories
    SelectionParams selection;
    ClassifierParams classifier;             // written to params.dat
    // The corpus as the driver listed it (to count it), for preprocessing;
    // null: preprocessing lists it.
    std::shared_ptr<const CorpusListing> listing;
};

// Classification of a corpus with a trained workspace.
struct ClassificationRun {
    RunEnvironment environment;
    std::string corpus;                      // with trailing '/'
    InputFormat format = InputFormat::RawText;
    bool labelled = false;                   // one sub-directory per category (test.dat), else example.dat
    std::shared_ptr<const CorpusListing> listing;  // as for a training run
};

}  // namespace kestrel
