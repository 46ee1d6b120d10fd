#pragma once
// Counting a corpus before a run, the way the corpus dialogs and the
// command line report it.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"

namespace kestrel {

struct CorpusCount {
    uint32_t categories = 0;  // sub-directories
    uint32_t documents = 0;   // matching documents inside them
};

// Each sub-directory of `dir` counts as a category, and its "*.txt" (raw
// text) or "*.seg" (preprocessed) files as documents.
CorpusCount countCategorisedCorpus(const std::string& dir, InputFormat format);

// Matching documents directly in `dir`.
uint32_t countDocuments(const std::string& dir, InputFormat format);

// The workspace proposed for a training corpus chosen as `chosenFolder`
// (without trailing '/'): the directory "model" beside it, with trailing '/'.
std::string defaultWorkspaceFor(const std::string& chosenFolder);

// Share (0..1) of the classified documents that were assigned their true
// category, counting only documents whose true and assigned categories are
// both ids below categoryCount: the micro-averaged recall of an evaluation,
// for the one-line outcome of a classification. 0 when no document counts.
double classificationAccuracy(const std::vector<RawDocument>& documents, size_t categoryCount);

}  // namespace kestrel
