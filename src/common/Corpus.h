#pragma once
// Records that describe a corpus and the documents of a run.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

// Category name (the sub-directory's name) with its number of training documents.
struct CategoryEntry {
    std::string name;
    uint32_t docCount = 0;
};
using CategoryTable = std::vector<CategoryEntry>;

// A document of the raw corpus being classified.
struct RawDocument {
    static constexpr int32_t kUnassigned = -1;
    int32_t trueCategory = -1;                // category id, -1 in an example corpus
    int32_t assignedCategory = kUnassigned;   // set by classification
    std::string fileName;                     // title + ".txt", whatever the input format
};

enum InputFormat : int { kRawText = 0, kPreprocessed = 1 };

enum SelectionMode : int { kChi = 0, kIg = 1, kMi = 2, kRs = 3 };

enum VectorMode : int { kTrainingVectors = 0, kTestVectors = 1, kExampleVectors = 2 };

// Document pattern of an input format: ".txt" or ".seg".
inline const char* documentExtension(int inputFormat) {
    return inputFormat == kRawText ? ".txt" : ".seg";
}

}  // namespace kestrel
