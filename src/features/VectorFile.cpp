#include "features/VectorFile.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "common/FileSystem.h"
#include "common/NumberFormat.h"
#include "common/ParallelFor.h"

namespace kestrel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool isBlankLine(std::string_view line) { return std::all_of(line.begin(), line.end(), isBlank); }

// Whether a line holds a document, or a line that is rejected as one: not a
// comment and not blank.
bool mayBeDocument(std::string_view line) { return !((!line.empty() && line[0] == '#') || isBlankLine(line)); }

// What a line that may be a document becomes once parsed (`parsed` false: it
// was rejected for `reason`): false when it is left out. A rejected line is
// noted in the report; one kept in place becomes an empty document with label
// 0.
bool settleLine(bool parsed, int64_t number, RejectedLines rejectedLines, DocumentVector& doc, long& label,
                bool& rejected, VectorReadReport& report, const std::string& reason) {
    rejected = !parsed;
    if (parsed) return true;
    report.note(number, reason);
    if (rejectedLines == RejectedLines::kSkip) return false;
    doc.words.assign(1, VectorEntry{});
    doc.docnum = -1;
    doc.twoNorm = 0.0;
    label = 0;
    return true;
}

// Takes line `number` of a vector file: false when it is no document (a
// comment, a blank line, or a rejected line that is skipped).
bool takeLine(std::string_view line, int64_t number, RejectedLines rejectedLines, int64_t maxWords,
              DocumentVector& doc, long& label, bool& rejected, VectorReadReport& report, std::string& reason) {
    if (!mayBeDocument(line)) return false;
    label = 0;
    const bool parsed = parseVectorLine(line, doc, label, maxWords, &reason);
    return settleLine(parsed, number, rejectedLines, doc, label, rejected, report, reason);
}

// Appends a document taken from a line to the set.
void addDocument(VectorSet& set, DocumentVector&& taken, long label, bool rejected, RejectedLines rejectedLines) {
    if (rejectedLines == RejectedLines::kKeepEmpty) set.rejected.push_back(rejected);
    if (taken.size() > 0) set.highestFeature = std::max(set.highestFeature, taken.words[taken.size() - 1].wnum);
    DocumentVector& doc = set.docs.emplace_back(std::move(taken));
    doc.docnum = int32_t(set.docs.size() - 1);
    set.labels.push_back(label);
}

// Batches of whole-file reads: large enough that starting the threads costs
// nothing against the parsing, small enough to hold beside the documents.
constexpr size_t kBatchDocuments = 8192;
constexpr size_t kBatchBytes = size_t(16) << 20;

}  // namespace

void VectorReadReport::note(int64_t lineNumber, const std::string& reason) {
    if (rejected++ == 0) {
        firstRejectedLine = lineNumber;
        firstReason = reason;
    }
}

std::string skippedLinesNote(const VectorReadReport& report, const std::string& path) {
    return std::to_string(report.rejected) + (report.rejected == 1 ? " line" : " lines") + " of " + path +
           " skipped (first: line " + std::to_string(report.firstRejectedLine) + ", " + report.firstReason + ")";
}

double squaredNorm(const VectorEntry* list) {
    double sum = 0.0;
    for (; list->wnum != 0; ++list) sum += list->weight * list->weight;
    return sum;
}

bool parseVectorLine(std::string_view line, DocumentVector& doc, long& label, int64_t maxWords,
                     std::string* reason) {
    auto reject = [&](const char* why) {
        if (reason) *reason = why;
        return false;
    };
    // Everything from the first '#' on is a comment.
    if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    const char* p = line.data();
    const char* end = p + line.size();

    while (p < end && isBlank(*p)) ++p;
    if (p == end) return reject("empty line");
    const char* stop = nullptr;
    if (!parseLong(p, end, label, &stop)) return reject("no label");
    // The rest of the label token is skipped.
    p = stop;
    while (p < end && !isBlank(*p)) ++p;

    doc.words.clear();
    int32_t previous = 0;
    int64_t taken = 0;
    while (true) {
        while (p < end && isBlank(*p)) ++p;
        if (p == end || taken >= maxWords) break;
        const char* tokenEnd = p;
        while (tokenEnd < end && !isBlank(*tokenEnd)) ++tokenEnd;
        long feature = 0;
        double weight = 0.0;
        if (!parseLong(p, tokenEnd, feature, &stop) || stop >= tokenEnd || *stop != ':')
            return reject("an item is not of the form feature:weight");
        if (!parseDouble(stop + 1, tokenEnd, weight, &stop) || stop != tokenEnd)
            return reject("an item is not of the form feature:weight");
        if (feature <= 0) return reject("a feature number is 0 or less");
        if (feature > INT32_MAX) return reject("a feature number is too large");
        if (feature <= previous) return reject("feature numbers are not increasing");
        if (!std::isfinite(weight)) return reject("a weight is not a finite number");
        previous = int32_t(feature);
        doc.words.push_back({int32_t(feature), weight});
        ++taken;
        p = tokenEnd;
    }
    doc.words.push_back({0, 0.0});
    doc.docnum = -1;
    doc.twoNorm = squaredNorm(doc.list());
    return true;
}

VectorSet parseVectors(std::string_view content, RejectedLines rejectedLines, int64_t maxWords) {
    VectorSet set;
    const size_t lineCount = size_t(std::count(content.begin(), content.end(), '\n')) + 1;
    set.docs.reserve(lineCount);
    set.labels.reserve(lineCount);
    DocumentVector scratch;
    std::string reason;
    int64_t number = 0;
    size_t pos = 0;
    while (pos < content.size()) {
        const LineSpan span = lineAt(content, pos);
        const std::string_view line = content.substr(pos, span.end - pos);
        pos = span.next;
        ++number;
        long label = 0;
        bool rejected = false;
        if (!takeLine(line, number, rejectedLines, maxWords, scratch, label, rejected, set.report, reason)) continue;
        // A copy holds the entries in a vector of exactly their size.
        addDocument(set, DocumentVector(scratch), label, rejected, rejectedLines);
    }
    return set;
}

Result<VectorSet> readVectorFile(const std::string& path, RejectedLines rejectedLines, int64_t maxWords,
                                 unsigned threads) {
    // Read a batch at a time, so that the file's text is never held whole
    // beside its documents.
    VectorFileReader reader(path, rejectedLines, maxWords);
    if (Status opened = reader.open(); !opened) return opened;
    VectorSet set;
    VectorFileReader::Batch batch;
    while (reader.nextBatch(batch, kBatchDocuments, kBatchBytes, threads) > 0) {
        for (size_t i = 0; i < batch.size(); ++i)
            addDocument(set, std::move(batch.docs[i]), batch.labels[i], batch.rejected[i], rejectedLines);
    }
    if (!reader.status()) return reader.status();
    set.report = reader.report();
    return set;
}

VectorFileReader::VectorFileReader(std::string path, RejectedLines rejectedLines, int64_t maxWords)
    : lines_(std::move(path)), rejectedLines_(rejectedLines), maxWords_(maxWords) {}

Status VectorFileReader::open() { return lines_.open(); }

bool VectorFileReader::next(DocumentVector& doc, long& label, bool& rejected) {
    std::string_view line;
    while (lines_.next(line)) {
        ++lineNumber_;
        if (takeLine(line, lineNumber_, rejectedLines_, maxWords_, doc, label, rejected, report_, reason_)) return true;
    }
    return false;
}

size_t VectorFileReader::nextBatch(Batch& batch, size_t maxDocuments, size_t maxBytes, unsigned threads) {
    batch.docs.clear();
    batch.labels.clear();
    batch.rejected.clear();
    // Skipped rejected lines may leave a batch empty before the end.
    while (batch.docs.empty()) {
        batchText_.clear();
        pending_.clear();
        std::string_view line;
        while (pending_.size() < maxDocuments && batchText_.size() < maxBytes && lines_.next(line)) {
            ++lineNumber_;
            if (!mayBeDocument(line)) continue;
            pending_.push_back(PendingLine{batchText_.size(), line.size(), lineNumber_});
            batchText_.append(line);
        }
        const size_t count = pending_.size();
        if (count == 0) break;
        batch.docs.resize(count);
        batch.labels.assign(count, 0);
        std::vector<char> parsed(count);
        std::vector<std::string> reasons(count);
        const auto parse = [&](size_t i) {
            thread_local DocumentVector scratch;
            const PendingLine& at = pending_[i];
            const std::string_view text = std::string_view(batchText_).substr(at.offset, at.length);
            parsed[i] = parseVectorLine(text, scratch, batch.labels[i], maxWords_, &reasons[i]);
            DocumentVector& doc = batch.docs[i];
            doc.words.assign(scratch.words.begin(), scratch.words.end());
            doc.docnum = -1;
            doc.twoNorm = scratch.twoNorm;
        };
        parallelFor(count, count < 256 ? 1 : threads, parse);
        // The report and the rejected lines in line order, as next() sees them.
        size_t kept = 0;
        for (size_t i = 0; i < count; ++i) {
            bool rejected = false;
            if (!settleLine(parsed[i], pending_[i].number, rejectedLines_, batch.docs[i], batch.labels[i], rejected,
                            report_, reasons[i]))
                continue;
            if (kept != i) {
                std::swap(batch.docs[kept], batch.docs[i]);
                batch.labels[kept] = batch.labels[i];
            }
            batch.rejected.push_back(rejected);
            ++kept;
        }
        batch.docs.resize(kept);
        batch.labels.resize(kept);
    }
    return batch.docs.size();
}

void appendVectorLine(std::string& out, std::string_view label, DocumentVector& doc) {
    out += label;
    char buffer[400];  // the largest double has 309 digits before the point
    for (size_t i = 0; i < doc.size(); ++i) {
        VectorEntry& e = doc.words[i];
        out += ' ';
        out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, e.wnum).ptr);
        out += ':';
        auto [weightEnd, ec2] = std::to_chars(buffer, buffer + sizeof buffer, e.weight, std::chars_format::fixed, 6);
        if (ec2 != std::errc()) {
            out += "nan";
            continue;
        }
        out.append(buffer, weightEnd);
        std::from_chars(buffer, weightEnd, e.weight);
    }
    out += '\n';
    doc.twoNorm = squaredNorm(doc.list());
}

}  // namespace kestrel
