// Vector files of the SVM engine: the line syntax of sparse vectors.
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "classify/svm/CSVM.h"
#include "classify/svm/SvmKernel.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"

namespace kestrel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Splits a text into lines (see lineAt); a last line without a line end
// still counts.
template <typename Fn>
void eachLine(std::string_view text, Fn&& fn) {
    size_t pos = 0;
    int64_t number = 0;
    while (pos < text.size()) {
        const LineSpan line = lineAt(text, pos);
        if (!fn(text.substr(pos, line.end - pos), ++number)) return;
        pos = line.next;
    }
}

bool isBlankLine(std::string_view line) {
    for (char c : line)
        if (!isBlank(c)) return false;
    return true;
}

void noteRejected(SvmReadReport* report, int64_t lineNumber, const std::string& reason) {
    if (!report) return;
    if (report->rejected++ == 0) {
        report->firstRejectedLine = lineNumber;
        report->firstReason = reason;
    }
}

}  // namespace

SvmFileSize CSVM::scanFileSize(FILE* file) {
    SvmFileSize size;
    if (!file) return size;
    int64_t length = 0, spaces = 0;
    char buffer[1 << 16];
    size_t got;
    char previous = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            const bool endsLine = c == '\r' || (c == '\n' && previous != '\r');
            previous = c;
            if (c == '\n' && !endsLine) continue;  // the LF of a CR LF
            ++length;
            if (c == ' ') ++spaces;
            if (endsLine) {
                ++size.lines;
                if (length > size.longestLine) size.longestLine = length;
                if (spaces > size.maxSpaces) size.maxSpaces = spaces;
                length = spaces = 0;
            }
        }
    }
    std::fclose(file);
    return size;
}

bool CSVM::parseDocumentLine(std::string_view line, SvmDoc& doc, long& label, int64_t maxWords,
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
    doc.twoNorm = sparseDot(doc.list(), doc.list());
    return true;
}

void CSVM::parseDocuments(std::string_view content, std::vector<SvmDoc>& docs,
                          std::vector<long>& labels, int64_t maxWords, int32_t& totWords,
                          SvmReadReport* report) {
    docs.clear();
    labels.clear();
    totWords = 0;
    size_t lineCount = size_t(std::count(content.begin(), content.end(), '\n')) + 1;
    docs.reserve(lineCount);
    labels.reserve(lineCount);

    SvmDoc scratch;
    std::string reason;
    eachLine(content, [&](std::string_view line, int64_t number) {
        if (!line.empty() && line[0] == '#') return true;
        long label = 0;
        if (!parseDocumentLine(line, scratch, label, maxWords, &reason)) {
            if (!isBlankLine(line)) noteRejected(report, number, reason);
            return true;
        }
        labels.push_back(label);
        if (scratch.words.size() > 1) {
            int32_t last = scratch.words[scratch.words.size() - 2].wnum;
            if (last > totWords) totWords = last;
        }
        SvmDoc& doc = docs.emplace_back();
        doc.words.assign(scratch.words.begin(), scratch.words.end());  // exact size
        doc.docnum = int32_t(docs.size() - 1);
        doc.twoNorm = scratch.twoNorm;
        return true;
    });
}

int CSVM::readDocuments(const std::string& path, std::vector<SvmDoc>& docs,
                        std::vector<int32_t>& labels, int64_t maxWords, long k, int32_t& totWords,
                        SvmReadReport* report, std::string* error) {
    std::string content;
    if (!readFile(path, content, error)) return -1;
    std::vector<long> written;
    parseDocuments(content, docs, written, maxWords, totWords, report);
    labels.resize(written.size());
    for (size_t i = 0; i < written.size(); ++i)
        labels[i] = written[i] == 0 ? 0 : (written[i] == k ? 1 : -1);
    return 0;
}

}  // namespace kestrel
