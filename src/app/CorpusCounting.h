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

}  // namespace kestrel
