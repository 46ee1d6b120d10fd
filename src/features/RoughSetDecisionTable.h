#pragma once
// The decision table of the rough-set reduction: training documents as
// objects, indexed terms as binary attributes (present / absent), the
// category as the decision. Also the all-term table that numbers the
// attributes, and the steps that turn raw counts into the candidate list.
#include <cstdint>
#include <string>
#include <vector>

#include "common/Corpus.h"
#include "features/FeatureTable.h"

namespace kestrel {

class SegmentedCorpus;

class TermIndex;
class ProgressSink;

// Every indexed term -> (attribute id, idf); the ids are the attribute
// numbers of the decision table.
using AllTermTable = FeatureTable;

// Builds the all-term table from the index in its current order: the k-th
// entry gets id k and idf ln(N / docCount).
AllTermTable buildAllTermTable(const TermIndex& index, uint32_t trainingDocCount);

struct RoughSetDocument {
    uint32_t category = 0;
    std::vector<uint32_t> attributes;  // ids of the terms it contains, ascending, each once
};

struct RoughSetCandidate {
    uint32_t attribute = 0;  // attribute id
    uint32_t dominant = 0;   // category with the most documents containing it
    double spread = 0.0;     // variance over the categories of those counts
};

// Start value of the smallest difference; stays when no pair of documents of
// different categories exists.
inline constexpr uint32_t kNoPairDifference = 4294967295u;

struct DecisionTable {
    uint32_t attributeCount = 0;
    uint32_t objectCount = 0;  // N as the controller counted it (used for idf)
    uint32_t categoryCount = 0;
    std::vector<RoughSetDocument> documents;  // traversal order
    std::vector<uint32_t> categoryDocCount;   // per category, counted from the documents
    std::vector<double> attributeCounts;      // S, row-major: [c * attributeCount + j]
    std::vector<double> spread;               // per attribute
    std::vector<uint32_t> dominant;           // per attribute
    std::vector<RoughSetCandidate> candidates;  // spread > 0.01, largest spread first
    std::vector<uint32_t> dropped;              // the other attributes, in id order
    double threshold = 0.0;

    double count(uint32_t category, uint32_t attribute) const {
        return attributeCounts[static_cast<size_t>(category) * attributeCount + attribute];
    }
};

// Marks an attribute that is not on the candidate list.
inline constexpr uint32_t kNotCandidate = 4294967295u;

// Attribute id -> position in table.candidates, kNotCandidate for the others.
std::vector<uint32_t> candidateIndexOf(const DecisionTable& table);

// Reads the .seg files of the training corpus (categories in id order, files
// in name order) into table.documents, looking every term up in `terms`;
// unknown terms are ignored. A file that cannot be read becomes a document
// without attributes and its message is added to `warnings`. Returns false
// only when cancelled through `sink`. When `corpus` holds the term lists of
// exactly these files (as the index read them), they are taken from it
// instead of reading the files again (unless they cannot be read back,
// which a warning reports).
bool readDecisionDocuments(const AllTermTable& terms, const CategoryTable& categories,
                           const std::string& trainingCorpusPath, DecisionTable& table, ProgressSink* sink,
                           std::vector<std::string>& warnings, const SegmentedCorpus* corpus = nullptr);

// Per-category counts, spreads, dominant categories, the spread filter, the
// sorted candidate list, and removal of the dropped attributes from every
// document. Needs attributeCount, categoryCount and the documents.
void buildCandidates(DecisionTable& table);

// The discernibility threshold: 0.9 times the smallest difference over the
// candidates, per candidate. Every evaluation uses exactly this expression.
inline double discernibilityThreshold(uint32_t minimumDifference, size_t candidateCount) {
    return 0.9 * static_cast<double>(minimumDifference) / static_cast<double>(candidateCount);
}

// Whether two documents that differ on `diff` of the `size` attributes of a
// list are too close to tell apart. Every evaluation uses exactly this
// expression, so all of them make the same choices.
inline bool tooClose(uint32_t diff, uint32_t size, double threshold) {
    return static_cast<double>(diff) / static_cast<double>(size) < threshold;
}

}  // namespace kestrel
