#pragma once
// The candidate index: every distinct term of the segmented training corpus
// with its document frequency, overall and per category, in order of first
// appearance.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrel {

struct CategoryEntry;
class ProgressSink;

struct TermEntry {
    std::string term;                     // GBK bytes of the .seg line before its first ':'
    uint32_t docCount = 0;                // training documents containing the term
    std::vector<uint32_t> classDocCount;  // the same, per category id
    double score = 0.0;                   // last selection score
    uint32_t firstSeen = 0;               // position in order of first appearance
};

class TermIndex {
public:
    const std::vector<TermEntry>& entries() const { return entries_; }
    std::vector<TermEntry>& entries() { return entries_; }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void clear();

    // Counts one document occurrence of `term` in category `category`,
    // appending a new entry (sized for `categoryCount`) for an unseen term.
    void addOccurrence(std::string_view term, uint32_t category, uint32_t categoryCount);

    // The same for a term numbered in order of first appearance: `id` is
    // the position of its entry, or entries().size() for a new term. For
    // building the index in one pass; reindex() afterwards.
    void addNumberedOccurrence(uint32_t id, std::string_view term, uint32_t category, uint32_t categoryCount);

    // Position of `term` in entries(), or -1.
    long find(std::string_view term) const;

    // Re-derives the term lookup after entries() was reordered.
    void reindex();

private:
    void countAgain(TermEntry& e, uint32_t category);
    void append(std::string_view term, uint32_t category, uint32_t categoryCount);
    // Transparent hashing lets lookups by string_view skip a copy.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<TermEntry> entries_;
    std::unordered_map<std::string, size_t, Hash, std::equal_to<>> lookup_;
};

}  // namespace kestrel
