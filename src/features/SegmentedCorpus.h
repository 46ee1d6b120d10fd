#pragma once
// Reading segmented documents (".seg": one "word:count" line per distinct
// word) and walking the segmented training corpus category by category.
#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <string>
#include <string_view>
#include <vector>

#include "common/Corpus.h"
#include "common/Status.h"

namespace kestrel {

struct SegLine {
    std::string term;   // GBK bytes before the first ':' (the whole line without one)
    int64_t count = 0;  // leading integer after the ':' (0 when there are no digits)
};

// Reads one .seg file (GB18030, UTF-8 or UTF-16, any line end). Empty lines
// are skipped; a term on several lines is one line (the first) with the sum
// of their counts, so that a document counts once for each of its terms.
// Fails with a message naming the file when it cannot be read or is not
// text; `warning` (if given) says when invalid bytes were replaced.
Status readSegFile(const std::string& path, std::vector<SegLine>& lines, std::string* warning = nullptr);

// Integer value of text the way the workspace readers take it: leading blanks
// skipped, optional sign, then decimal digits up to the first other
// character; 0 without digits. Saturates instead of overflowing.
int64_t leadingInteger(std::string_view text);

// A document of the segmented training corpus.
struct CorpusDocument {
    uint32_t category;  // category id
    std::string path;   // full path of the .seg file
};

// The .seg documents of the training corpus: for each category id in order,
// the category directory's .seg files in name order. Unreadable directories
// contribute nothing (their messages are appended to `warnings` if given).
std::vector<CorpusDocument> listTrainingDocuments(const std::string& corpusPath, const CategoryTable& categories,
                                                  std::vector<std::string>* warnings = nullptr);

class ProgressSink;

// The segmented training corpus read once and held as term ids, so that the
// stages after preprocessing (index, vectors) do not read every .seg file
// again. Terms are numbered in order of first appearance: categories in id
// order, files in name order, lines in file order.
class SegmentedCorpus {
public:
    struct Document {
        uint32_t category = 0;
        std::string path;
        std::string error;  // why the file could not be read; empty when it was
        size_t begin = 0;   // its terms are entries [begin, end) of the corpus
        size_t end = 0;
    };

    // Reads every .seg file of the training corpus, a chunk of documents at
    // a time on `threads` threads (0: every core), and calls
    // onDocument(corpus, document, termIds, counts) for each in corpus
    // order (the corpus then knows the terms read so far). The
    // term lists are kept only while the corpus has at most `maxEntries`
    // (term, document) entries; a larger corpus is read again by whoever
    // needs it (keepsTerms() is then false). Messages of unreadable
    // directories and of replaced bytes go to `warnings`.
    using DocumentFn =
        std::function<void(const SegmentedCorpus&, const Document&, const std::vector<uint32_t>&,
                           const std::vector<int64_t>&)>;
    static SegmentedCorpus read(const std::string& corpusPath, const CategoryTable& categories, unsigned threads,
                                std::vector<std::string>& warnings, ProgressSink* sink, const DocumentFn& onDocument,
                                size_t maxEntries = kDefaultMaxEntries);

    // About 12 bytes per entry: 768 MB at most.
    static constexpr size_t kDefaultMaxEntries = size_t(1) << 26;

    const std::vector<Document>& documents() const { return documents_; }
    size_t termCount() const { return terms_.size(); }
    const std::string& term(uint32_t id) const { return terms_[id]; }
    bool keepsTerms() const { return keepsTerms_; }
    // The term ids and counts of document d (only while keepsTerms()).
    const uint32_t* termIds(const Document& d) const { return termIds_.data() + d.begin; }
    const int64_t* counts(const Document& d) const { return counts_.data() + d.begin; }
    // Messages of the directories that could not be listed.
    const std::vector<std::string>& listWarnings() const { return listWarnings_; }

private:
    std::vector<Document> documents_;
    std::deque<std::string> terms_;  // stable addresses for the lookup's keys
    std::unordered_map<std::string_view, uint32_t> lookup_;
    std::vector<uint32_t> termIds_;
    std::vector<int64_t> counts_;
    bool keepsTerms_ = true;
    std::vector<std::string> listWarnings_;
};

}  // namespace kestrel
