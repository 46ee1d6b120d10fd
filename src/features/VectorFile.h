#pragma once
// Vector files (train.dat, test.dat, example.dat): one document per line, a
// label and then "feature:weight" items in increasing feature number. This is
// the one reader and the one writer of them; both classifiers read through it
// and see the same documents and the same warnings.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/FileLineReader.h"
#include "common/Status.h"
#include "features/DocumentVector.h"

namespace kestrel {

// Lines a reader could not take as a document.
struct VectorReadReport {
    int64_t rejected = 0;
    int64_t firstRejectedLine = 0;  // 1-based line number of the first one
    std::string firstReason;

    void note(int64_t lineNumber, const std::string& reason);
};

// "N lines of PATH skipped (first: line L, reason)" for a report with
// rejected lines.
std::string skippedLinesNote(const VectorReadReport& report, const std::string& path);

// Parses one vector line ("label feature:weight ..."; everything from a '#'
// on is a comment). On success doc holds the entries plus the 0 terminator,
// docnum -1 and its squared norm. At most maxWords items are taken. A line
// with a feature number of 0 or less, feature numbers that do not increase,
// an item that is not integer:real or a weight that is not finite is
// rejected: false, and `reason` (if given) says why.
bool parseVectorLine(std::string_view line, DocumentVector& doc, long& label, int64_t maxWords,
                     std::string* reason = nullptr);

// What to do with a line that is not a document.
enum class RejectedLines {
    kSkip,       // leave it out (training: the other lines still train)
    kKeepEmpty,  // keep its place as an empty document with label 0, so that
                 // the n-th document stays the n-th line of the file
};

// The documents of a vector file, in file order.
struct VectorSet {
    std::vector<DocumentVector> docs;  // docnum = position
    std::vector<long> labels;          // as written
    int32_t highestFeature = 0;        // largest feature number of any document
    VectorReadReport report;
    // Whether document n came from a rejected line (kKeepEmpty only).
    std::vector<bool> rejected;
};

// Parses the text of a vector file. Lines starting with '#' and blank lines
// are no documents and not reported.
VectorSet parseVectors(std::string_view content, RejectedLines rejectedLines,
                       int64_t maxWords = INT64_MAX);
// Reads a vector file (with the rules of parseVectors), its lines parsed on
// `threads` threads (0: every core); a failure names the file.
Result<VectorSet> readVectorFile(const std::string& path, RejectedLines rejectedLines,
                                 int64_t maxWords = INT64_MAX, unsigned threads = 0);

// Reads a vector file a block at a time, with the rules of parseVectors
// (same documents, same rejected lines and report), so that a file larger
// than memory can be read document by document.
class VectorFileReader {
public:
    VectorFileReader(std::string path, RejectedLines rejectedLines, int64_t maxWords = INT64_MAX);

    // Opens the file; a failure names it.
    Status open();
    // The next document (entries plus the 0 terminator, its squared norm,
    // docnum -1) and its label; a rejected line kept in place is an empty
    // document with label 0 and `rejected` true. False at the end of the
    // file or after a read failure (see status()).
    bool next(DocumentVector& doc, long& label, bool& rejected);

    // The documents of what next() would give in the following calls: the
    // lines up to `maxDocuments` documents or about `maxBytes` of text, parsed
    // on `threads` threads (0: every core). The batch replaces what the
    // vectors held (each document's entries in a vector of exactly their
    // size, docnum -1); its size is the number read, 0 at the end of the file
    // or after a read failure. Parsing is most of the reading of a large
    // file, and its lines do not depend on each other.
    struct Batch {
        std::vector<DocumentVector> docs;
        std::vector<long> labels;
        std::vector<bool> rejected;
        size_t size() const { return docs.size(); }
    };
    size_t nextBatch(Batch& batch, size_t maxDocuments, size_t maxBytes, unsigned threads);

    // Success, or the failure that ended reading early.
    const Status& status() const { return lines_.status(); }
    const VectorReadReport& report() const { return report_; }
    const std::string& path() const { return lines_.path(); }

private:
    FileLineReader lines_;
    RejectedLines rejectedLines_;
    int64_t maxWords_;
    int64_t lineNumber_ = 0;
    std::string reason_;
    VectorReadReport report_;
    // The lines of a batch, copied: a line's view lasts only until the next.
    std::string batchText_;
    struct PendingLine {
        size_t offset;
        size_t length;
        int64_t number;
    };
    std::vector<PendingLine> pending_;
};

// Appends one vector line: the label, then " %u:%.6f" for every entry of
// doc (its feature number and weight), then "\n". The weights of doc are
// replaced by the values of their written text, so that the document in
// memory is exactly what a reader of the file gets.
void appendVectorLine(std::string& out, std::string_view label, DocumentVector& doc);

// Sum of the squared weights of a terminated entry list, in entry order (the
// dot product of the list with itself).
double squaredNorm(const VectorEntry* list);

}  // namespace kestrel
