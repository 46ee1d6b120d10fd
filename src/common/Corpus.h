#pragma once
// Records that describe a corpus and the documents of a run.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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

// How the documents of a corpus are given: raw text to be segmented, or
// word lists already segmented.
enum class InputFormat { RawText, Preprocessed };

enum SelectionMode : int { kChi = 0, kIg = 1, kMi = 2, kRs = 3 };

enum VectorMode : int { kTrainingVectors = 0, kTestVectors = 1, kExampleVectors = 2 };

// Document pattern of an input format: ".txt" or ".seg".
inline const char* documentExtension(InputFormat format) {
    return format == InputFormat::RawText ? ".txt" : ".seg";
}

// The name of an input format on the command line: "txt" or "seg".
inline const char* inputFormatName(InputFormat format) {
    return format == InputFormat::RawText ? "txt" : "seg";
}

// The input format a command-line name stands for; none for another name.
inline std::optional<InputFormat> parseInputFormat(std::string_view name) {
    if (name == "txt") return InputFormat::RawText;
    if (name == "seg") return InputFormat::Preprocessed;
    return std::nullopt;
}

}  // namespace kestrel
