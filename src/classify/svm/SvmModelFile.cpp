#include "classify/svm/SvmModelFile.h"

#include <climits>
#include <cmath>
#include <memory>
#include <string_view>
#include <vector>

#include "classify/svm/SvmKernel.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"

namespace kestrel {

namespace {

constexpr size_t kHeaderLines = 11;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

bool isBlankLine(std::string_view line) {
    for (char c : line)
        if (!isBlank(c)) return false;
    return true;
}

const char* skipBlanks(const char* p, const char* end) {
    while (p < end && isBlank(*p)) ++p;
    return p;
}

std::vector<std::string_view> tokensOf(std::string_view line) {
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
}

// The first token of a header line as a whole number / a finite real.
bool headerLong(std::string_view line, long& value) {
    const char* end = line.data() + line.size();
    const char* stop = nullptr;
    return parseLong(skipBlanks(line.data(), end), end, value, &stop);
}
bool headerReal(std::string_view line, double& value) {
    const char* end = line.data() + line.size();
    const char* stop = nullptr;
    return parseDouble(skipBlanks(line.data(), end), end, value, &stop) && std::isfinite(value);
}

// The header: eleven non-blank lines (blank lines between them are
// tolerated), each value the first token of its line. Fills the model's
// scalar fields; `svNum` receives the support-vector count plus one and
// `bodyStart` where the support vectors begin. Returns the reason of a
// failure, empty on success.
std::string readHeader(std::string_view content, SvmModel& model, long& svNum, size_t& bodyStart) {
    std::vector<std::string_view> header;
    size_t pos = 0;
    while (header.size() < kHeaderLines && pos < content.size()) {
        const LineSpan span = lineAt(content, pos);
        std::string_view line = content.substr(pos, span.end - pos);
        if (!isBlankLine(line)) header.push_back(line);
        pos = span.next;
    }
    bodyStart = pos;
    if (header.empty()) return "the file is empty";
    const auto first = tokensOf(header[0]);
    if (first.size() < 3 || first[0] != "SVM-light" || first[1] != "Version") return "not an SVM-light model file";
    if (first[2] != "V3.50") return "version " + std::string(first[2]) + " is not supported (expected V3.50)";
    if (header.size() < kHeaderLines) return "the file is truncated in its header";

    long kernelType = 0, degree = 0, totWords = 0, totDoc = 0;
    double gamma = 0, coefLin = 0, coefConst = 0, b = 0;
    if (!headerLong(header[1], kernelType) || kernelType < INT32_MIN || kernelType > INT32_MAX)
        return "bad kernel type line";
    if (!headerLong(header[2], degree) || degree < INT32_MIN || degree > INT32_MAX)
        return "bad kernel parameter -d line";
    if (!headerReal(header[3], gamma)) return "bad kernel parameter -g line";
    if (!headerReal(header[4], coefLin)) return "bad kernel parameter -s line";
    if (!headerReal(header[5], coefConst)) return "bad kernel parameter -r line";
    const auto custom = tokensOf(header[6]);
    if (!headerLong(header[7], totWords) || totWords < 0 || totWords > INT32_MAX)
        return "bad highest feature index line";
    if (!headerLong(header[8], totDoc) || totDoc < INT32_MIN || totDoc > INT32_MAX)
        return "bad number of training documents line";
    if (!headerLong(header[9], svNum) || svNum < 1 || svNum > INT32_MAX)
        return "bad number of support vectors line";
    if (!headerReal(header[10], b)) return "bad threshold line";
    const std::optional<KernelType> kernel = kernelTypeOf(kernelType);
    if (!kernel) return "unknown kernel type " + std::to_string(kernelType);

    model.kernel.kernelType = *kernel;
    model.kernel.degree = int32_t(degree);
    model.kernel.gamma = gamma;
    model.kernel.coefLin = coefLin;
    model.kernel.coefConst = coefConst;
    model.kernel.customText = custom.empty() ? std::string() : std::string(custom[0].substr(0, 49));
    model.totWords = int32_t(totWords);
    model.totDoc = int32_t(totDoc);
    model.b = b;
    return {};
}

// One support-vector line: its coefficient, then feature:weight items with
// increasing feature numbers up to `highestFeature`. False when the line
// breaks that syntax; `badCoefficient` then tells which part.
bool parseSupportVector(std::string_view line, int32_t highestFeature, double& coefficient, DocumentVector& doc,
                        bool& badCoefficient) {
    const char* end = line.data() + line.size();
    const char* p = skipBlanks(line.data(), end);
    const char* stop = nullptr;
    badCoefficient = p == end || !parseDouble(p, end, coefficient, &stop) || (stop < end && !isBlank(*stop)) ||
                     !std::isfinite(coefficient);
    if (badCoefficient) return false;
    p = stop;
    int32_t previous = 0;
    while ((p = skipBlanks(p, end)) < end) {
        const char* tokenEnd = p;
        while (tokenEnd < end && !isBlank(*tokenEnd)) ++tokenEnd;
        long feature = 0;
        double weight = 0.0;
        if (!parseLong(p, tokenEnd, feature, &stop) || stop >= tokenEnd || *stop != ':' ||
            !parseDouble(stop + 1, tokenEnd, weight, &stop) || stop != tokenEnd || !std::isfinite(weight) ||
            feature <= previous || feature > highestFeature)
            return false;
        previous = int32_t(feature);
        doc.words.push_back({int32_t(feature), weight});
        p = tokenEnd;
    }
    doc.words.push_back({0, 0.0});
    doc.words.shrink_to_fit();
    doc.docnum = -1;
    doc.twoNorm = sparseDot(doc.list(), doc.list());
    return true;
}

// Reads the wanted number of support-vector lines into the model (which
// owns them). Returns the reason of a failure, empty on success.
std::string readSupportVectors(std::string_view body, int64_t wanted, SvmModel& model) {
    model.supvec.push_back(nullptr);
    model.alpha.push_back(0.0);
    int64_t got = 0;
    size_t pos = 0;
    while (got < wanted && pos < body.size()) {
        const LineSpan span = lineAt(body, pos);
        std::string_view line = body.substr(pos, span.end - pos);
        pos = span.next;
        auto doc = std::make_unique<DocumentVector>();
        double coefficient = 0.0;
        bool badCoefficient = false;
        if (!parseSupportVector(line, model.totWords, coefficient, *doc, badCoefficient))
            return "support vector " + std::to_string(got + 1) +
                   (badCoefficient ? " has no valid coefficient"
                                   : " has a malformed item or a feature above the highest feature index " +
                                         std::to_string(model.totWords));
        model.supvec.push_back(doc.get());
        model.alpha.push_back(coefficient);
        model.ownedDocs.push_back(std::move(doc));
        ++got;
    }
    if (got < wanted)
        return "the file is truncated: " + std::to_string(got) + " of " + std::to_string(wanted) + " support vectors";
    return {};
}

}  // namespace

void appendEntries(std::string& out, const DocumentVector& doc) {
    for (const VectorEntry* w = doc.list(); w->wnum != 0; ++w) {
        appendLong(out, w->wnum);
        out += ':';
        appendReal(out, w->weight, 8);
        out += ' ';
    }
}

std::string formatModel(const SvmModel& model) {
    std::string out;
    formatModel(model, [](const DocumentVector&) -> const std::string* { return nullptr; }, out);
    return out;
}

void formatModel(const SvmModel& model, const std::function<const std::string*(const DocumentVector&)>& entries,
                 std::string& out) {
    out.clear();
    out += "SVM-light Version V3.50\n";
    appendLong(out, kernelNumber(model.kernel.kernelType));
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

Status writeModel(const SvmModel& model, const std::string& path) {
    return writeFileAtomically(path, formatModel(model));
}

Result<SvmModel> readModel(const std::string& path) {
    const Result<std::string> read = readFile(path);
    if (!read) return read.status();
    const std::string& content = *read;
    SvmModel model;
    long svNum = 0;
    size_t bodyStart = 0;
    std::string problem = readHeader(content, model, svNum, bodyStart);
    if (problem.empty())
        problem = readSupportVectors(std::string_view(content).substr(bodyStart), svNum - 1, model);
    if (!problem.empty()) return Status::failure("model file " + path + ": " + problem);
    model.svNum = int32_t(svNum);
    return model;
}

}  // namespace kestrel
