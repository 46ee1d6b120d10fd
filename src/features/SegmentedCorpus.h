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
#include "features/TermListStore.h"

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
// stages after preprocessing (index, vectors, rough-set table) do not read
// every .seg file again. Terms are numbered in order of first appearance:
// categories in id order, files in name order, lines in file order.
class SegmentedCorpus {
public:
    struct Document {
        uint32_t category = 0;
        std::string path;
        std::string error;  // why the file could not be read; empty when it was
        TermListStore::Span terms;  // where its term list lies in the store
    };

    // Reads every .seg file of the training corpus, a chunk of documents at
    // a time on `threads` threads (0: twice as many as cores), and calls
    // onDocument(corpus, document, termIds, counts) for each in corpus
    // order (the corpus then knows the terms read so far). The term lists
    // are kept in memory up to `memoryLimit` encoded bytes, beyond that in a
    // temporary file in `spillDirectory`; without a spill directory, or when
    // the file cannot be written (a warning then says why), a larger corpus
    // is read again by whoever needs it (keepsTerms() is then false).
    // Messages of unreadable directories and of replaced bytes go to
    // `warnings`.
    using DocumentFn =
        std::function<void(const SegmentedCorpus&, const Document&, const std::vector<uint32_t>&,
                           const std::vector<int64_t>&)>;
    static SegmentedCorpus read(const std::string& corpusPath, const CategoryTable& categories, unsigned threads,
                                std::vector<std::string>& warnings, ProgressSink* sink, const DocumentFn& onDocument,
                                const std::string& spillDirectory = {}, size_t memoryLimit = kDefaultMemoryLimit);
    // The same for documents already listed, in the order given.
    static SegmentedCorpus read(std::vector<CorpusDocument> files, unsigned threads,
                                std::vector<std::string>& warnings, ProgressSink* sink, const DocumentFn& onDocument,
                                const std::string& spillDirectory = {}, size_t memoryLimit = kDefaultMemoryLimit);

    // About four bytes per (term, document) entry: some 30 million
    // entries (100,000 news-length documents) stay in memory.
    static constexpr size_t kDefaultMemoryLimit = size_t(128) << 20;

    // The term lists of a run of documents, read from the store at once so
    // that several threads can decode them.
    class Batch {
    public:
        // Decodes the term list of document n (of the corpus, inside the
        // batch); false when its bytes are damaged.
        bool terms(size_t n, std::vector<uint32_t>& ids, std::vector<int64_t>& counts) const;

    private:
        friend class SegmentedCorpus;
        const SegmentedCorpus* corpus_ = nullptr;
        uint64_t base_ = 0;
        std::string buffer_;
        std::string_view bytes_;
    };
    // Loads documents [first, first + count) (only while keepsTerms()); a
    // failure when the temporary file cannot be read back.
    Status loadBatch(size_t first, size_t count, Batch& batch) const;

    const std::vector<Document>& documents() const { return documents_; }
    size_t termCount() const { return terms_.size(); }
    const std::string& term(uint32_t id) const { return terms_[id]; }
    bool keepsTerms() const { return keepsTerms_; }
    // Whether reading stopped early on a cancel request: documents() then
    // holds only the documents read before it.
    bool cancelled() const { return cancelled_; }
    // Whether the term lists went to the temporary file.
    bool spilled() const { return store_.spilled(); }
    // Frees the term lists (after they could not be read back, say): who
    // needs them reads the .seg files again.
    void dropTerms();
    // Messages of the directories that could not be listed.
    const std::vector<std::string>& listWarnings() const { return listWarnings_; }

private:
    SegmentedCorpus(const std::string& spillDirectory, size_t memoryLimit) : store_(spillDirectory, memoryLimit) {}
    // The id of `term`, or kNewTerm (also while a chunk is read in
    // parallel, when the table is only read).
    static constexpr uint32_t kNewTerm = UINT32_MAX;
    uint32_t findTerm(std::string_view term) const;
    uint32_t addTerm(std::string_view term);
    void placeTerm(uint32_t id);
    // Gives the terms read in parallel that were unknown then their ids.
    void numberNewTerms(const std::vector<SegLine>& lines, std::vector<uint32_t>& ids);
    void keep(Document& doc, const std::vector<uint32_t>& ids, const std::vector<int64_t>& counts,
              std::vector<std::string>& warnings);

    std::vector<Document> documents_;
    std::deque<std::string> terms_;
    // Term ids by hash of their term, open addressing (kNewTerm: empty), so
    // that looking up every word of the corpus allocates nothing and
    // follows no node pointers.
    std::vector<uint32_t> slots_;
    TermListStore store_;
    bool keepsTerms_ = true;
    bool cancelled_ = false;
    std::vector<std::string> listWarnings_;
};

}  // namespace kestrel
