// Vector files and model files of the SVM engine: the line syntax of sparse
// vectors and the SVM-light "V3.50" model format, read and written.
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "classify/svm/CSVM.h"
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
    const Result<std::string> content = readFile(path);
    if (!content) {
        if (error) *error = content.message();
        return -1;
    }
    std::vector<long> written;
    parseDocuments(*content, docs, written, maxWords, totWords, report);
    labels.resize(written.size());
    for (size_t i = 0; i < written.size(); ++i)
        labels[i] = written[i] == 0 ? 0 : (written[i] == k ? 1 : -1);
    return 0;
}

void CSVM::appendEntries(std::string& out, const SvmDoc& doc) {
    for (const SvmWord* w = doc.list(); w->wnum != 0; ++w) {
        appendLong(out, w->wnum);
        out += ':';
        appendReal(out, w->weight, 8);
        out += ' ';
    }
}

std::string CSVM::formatModel(const SvmModel& model) {
    std::string out;
    formatModel(model, [](const SvmDoc&) -> const std::string* { return nullptr; }, out);
    return out;
}

void CSVM::formatModel(const SvmModel& model,
                       const std::function<const std::string*(const SvmDoc&)>& entries, std::string& out) {
    out.clear();
    out += "SVM-light Version V3.50\n";
    appendLong(out, model.kernel.kernelType);
    out += " # kernel type\n";
    appendLong(out, model.kernel.degree);
    out += " # kernel parameter -d \n";
    appendReal(out, model.kernel.gamma, 8);
    out += " # kernel parameter -g \n";
    appendReal(out, model.kernel.coefLin, 8);
    out += " # kernel parameter -s \n";
    appendReal(out, model.kernel.coefConst, 8);
    out += " # kernel parameter -r \n";
    out += "EmptyParam # kernel parameter -u \n";
    appendLong(out, model.totWords);
    out += " # highest feature index \n";
    appendLong(out, model.totDoc);
    out += " # number of training documents \n";
    appendLong(out, model.svNum);
    out += " # number of support vectors plus 1 \n";
    appendReal(out, model.b, 8);
    out += " # threshold b \n";
    for (int32_t i = 1; i < model.svNum; ++i) {
        appendReal(out, model.alpha[i], 32);
        out += ' ';
        if (const std::string* text = entries(*model.supvec[i])) out += *text;
        else appendEntries(out, *model.supvec[i]);
        out += '\n';
    }
}

bool CSVM::writeModel(const SvmModel& model, const std::string& path, std::string* error) {
    const Status written = writeFileAtomically(path, formatModel(model));
    if (!written && error) *error = written.message();
    return written.ok();
}

int CSVM::readModel(const std::string& path, SvmModel& model, std::string* error) {
    const Result<std::string> read = readFile(path);
    if (!read) {
        if (error) *error = read.message();
        return -1;
    }
    const std::string& content = *read;
    model = SvmModel();
    auto fail = [&](const std::string& why) {
        if (error) *error = "model file " + path + ": " + why;
        model = SvmModel();
        return -1;
    };

    // Header: eleven lines, blank lines between them tolerated; each value is
    // the first token of its line.
    std::vector<std::string_view> header;
    size_t bodyStart = content.size();
    {
        size_t pos = 0;
        while (header.size() < 11 && pos < content.size()) {
            const LineSpan span = lineAt(content, pos);
            std::string_view line(content.data() + pos, span.end - pos);
            if (!isBlankLine(line)) header.push_back(line);
            pos = span.next;
        }
        bodyStart = pos;
    }
    auto tokens = [](std::string_view line) {
        std::vector<std::string_view> out;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && isBlank(line[i])) ++i;
            size_t j = i;
            while (j < line.size() && !isBlank(line[j])) ++j;
            if (j > i) out.push_back(line.substr(i, j - i));
            i = j;
        }
        return out;
    };
    if (header.empty()) return fail("the file is empty");
    {
        auto t = tokens(header[0]);
        if (t.size() < 3 || t[0] != "SVM-light" || t[1] != "Version")
            return fail("not an SVM-light model file");
        if (t[2] != "V3.50")
            return fail("version " + std::string(t[2]) + " is not supported (expected V3.50)");
    }
    if (header.size() < 11) return fail("the file is truncated in its header");

    auto headerLong = [&](size_t i, long& value) {
        std::string_view line = header[i];
        const char* p = line.data();
        const char* end = p + line.size();
        while (p < end && isBlank(*p)) ++p;
        const char* stop = nullptr;
        return parseLong(p, end, value, &stop);
    };
    auto headerReal = [&](size_t i, double& value) {
        std::string_view line = header[i];
        const char* p = line.data();
        const char* end = p + line.size();
        while (p < end && isBlank(*p)) ++p;
        const char* stop = nullptr;
        return parseDouble(p, end, value, &stop) && std::isfinite(value);
    };
    long kernelType = 0, degree = 0, totWords = 0, totDoc = 0, svNum = 0;
    double gamma = 0, coefLin = 0, coefConst = 0, b = 0;
    if (!headerLong(1, kernelType) || kernelType < INT32_MIN || kernelType > INT32_MAX)
        return fail("bad kernel type line");
    if (!headerLong(2, degree) || degree < INT32_MIN || degree > INT32_MAX)
        return fail("bad kernel parameter -d line");
    if (!headerReal(3, gamma)) return fail("bad kernel parameter -g line");
    if (!headerReal(4, coefLin)) return fail("bad kernel parameter -s line");
    if (!headerReal(5, coefConst)) return fail("bad kernel parameter -r line");
    {
        auto t = tokens(header[6]);
        model.kernel.customText = t.empty() ? std::string() : std::string(t[0].substr(0, 49));
    }
    if (!headerLong(7, totWords) || totWords < 0 || totWords > INT32_MAX)
        return fail("bad highest feature index line");
    if (!headerLong(8, totDoc) || totDoc < INT32_MIN || totDoc > INT32_MAX)
        return fail("bad number of training documents line");
    if (!headerLong(9, svNum) || svNum < 1 || svNum > INT32_MAX)
        return fail("bad number of support vectors line");
    if (!headerReal(10, b)) return fail("bad threshold line");

    model.kernel.kernelType = int32_t(kernelType);
    model.kernel.degree = int32_t(degree);
    model.kernel.gamma = gamma;
    model.kernel.coefLin = coefLin;
    model.kernel.coefConst = coefConst;
    model.totWords = int32_t(totWords);
    model.totDoc = int32_t(totDoc);
    model.b = b;

    // Support vectors: one line each, coefficient then feature:weight items.
    std::string_view body(content.data() + bodyStart, content.size() - bodyStart);
    model.supvec.push_back(nullptr);
    model.alpha.push_back(0.0);
    int64_t wanted = svNum - 1;
    int64_t got = 0;
    std::string problem;
    eachLine(body, [&](std::string_view line, int64_t number) {
        if (got == wanted) return false;
        const char* p = line.data();
        const char* end = p + line.size();
        while (p < end && isBlank(*p)) ++p;
        double coefficient = 0.0;
        const char* stop = nullptr;
        if (p == end || !parseDouble(p, end, coefficient, &stop) ||
            (stop < end && !isBlank(*stop)) || !std::isfinite(coefficient)) {
            problem = "support vector " + std::to_string(got + 1) + " has no valid coefficient";
            return false;
        }
        (void)number;
        auto doc = std::make_unique<SvmDoc>();
        p = stop;
        int32_t previous = 0;
        while (true) {
            while (p < end && isBlank(*p)) ++p;
            if (p == end) break;
            const char* tokenEnd = p;
            while (tokenEnd < end && !isBlank(*tokenEnd)) ++tokenEnd;
            long feature = 0;
            double weight = 0.0;
            if (!parseLong(p, tokenEnd, feature, &stop) || stop >= tokenEnd || *stop != ':' ||
                !parseDouble(stop + 1, tokenEnd, weight, &stop) || stop != tokenEnd ||
                !std::isfinite(weight) || feature <= previous || feature > INT32_MAX) {
                problem = "support vector " + std::to_string(got + 1) + " has a malformed item";
                return false;
            }
            previous = int32_t(feature);
            doc->words.push_back({int32_t(feature), weight});
            p = tokenEnd;
        }
        doc->words.push_back({0, 0.0});
        doc->words.shrink_to_fit();
        doc->docnum = -1;
        doc->twoNorm = sparseDot(doc->list(), doc->list());
        model.supvec.push_back(doc.get());
        model.alpha.push_back(coefficient);
        model.ownedDocs.push_back(std::move(doc));
        ++got;
        return true;
    });
    if (!problem.empty()) return fail(problem);
    if (got < wanted)
        return fail("the file is truncated: " + std::to_string(got) + " of " +
                    std::to_string(wanted) + " support vectors");
    model.svNum = int32_t(svNum);
    return 0;
}

}  // namespace kestrel
