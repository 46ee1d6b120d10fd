#include "workspace/WorkspaceFiles.h"

#include <fmt/format.h>

#include "common/FileLineReader.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"
#include "features/SegmentedCorpus.h"

namespace kestrel {

namespace {

// First whitespace-delimited token of a line.
std::string firstToken(std::string_view line) {
    size_t b = 0;
    while (b < line.size() && (line[b] == ' ' || line[b] == '\t')) ++b;
    size_t e = b;
    while (e < line.size() && line[e] != ' ' && line[e] != '\t') ++e;
    return std::string(line.substr(b, e - b));
}

// "<path> line <n>: <what>".
std::string lineError(const std::string& path, size_t line, const std::string& what) {
    return path + " line " + std::to_string(line) + ": " + what;
}

// The value of a "<value> # <comment>" line: its first token as one whole
// number. False when the line is missing or the token is not a number.
bool lineReal(const std::vector<std::string>& lines, size_t i, double& value) {
    return i < lines.size() && parseWholeReal(firstToken(lines[i]), value);
}

bool lineLong(const std::vector<std::string>& lines, size_t i, long& value) {
    return i < lines.size() && parseWholeLong(firstToken(lines[i]), value);
}

}  // namespace

const char* selectionModeName(int mode) {
    switch (mode) {
    case kChi: return "CHI";
    case kIg: return "IG";
    case kMi: return "MI";
    default: return "RS";
    }
}

int selectionModeFromName(const std::string& token) {
    if (token == "CHI") return kChi;
    if (token == "IG") return kIg;
    if (token == "MI") return kMi;
    return kRs;
}

std::string classesText(const CategoryTable& categories) {
    std::string out;
    for (size_t i = 0; i < categories.size(); ++i) {
        out += fmt::format("{} ", static_cast<unsigned>(i));
        out += categories[i].name;
        out += '\n';
    }
    return out;
}

std::string featuresText(const FeatureTable& features) {
    // Ids are dense from 0: each entry goes to its line's place.
    std::vector<const FeatureTable::value_type*> byId(features.size(), nullptr);
    for (const auto& entry : features)
        if (entry.second.id < byId.size()) byId[entry.second.id] = &entry;
    std::string out;
    for (size_t k = 0; k < byId.size(); ++k) {
        if (!byId[k]) continue;
        out += fmt::format("{} ", k);
        out += byId[k]->first;
        out += ' ';
        appendFixed(out, byId[k]->second.idf, 6);
        out += '\n';
    }
    return out;
}

std::string fsInfoText(const FsInfo& info) {
    std::string out = selectionModeName(info.mode);
    out += " # FSMode\n";
    out += fmt::format("{} # Old Dimensionality\n", static_cast<long>(info.oldDimensionality));
    out += fmt::format("{} # New Dimensionality\n", static_cast<int>(info.newDimensionality));
    return out;
}

std::string paramsText(const ClassifierParams& p) {
    if (p.classifier == ClassifierKind::Knn) {
        return fmt::format("KNN # Classifier\n{} # Neighbor\n{} # Similarity\n", static_cast<int>(p.k),
                           static_cast<int>(p.similarity));
    }
    std::string out = "SVM # Classifier\n";
    out += fmt::format("{} # Biased Hyperplane\n", p.svm.biased);
    out += fmt::format("{} # Kernel Type\n", p.svm.kernelType);
    out += fixedText(p.svm.tolerance, 6) + " # Epsion\n";
    out += fmt::format("{} # Kernel Parameter -d\n", p.svm.degree);
    out += fixedText(p.svm.gamma, 6) + " # Kernel Parameter -g\n";
    out += fixedText(p.svm.coefS, 6) + " # Kernel Parameter -s\n";
    out += fixedText(p.svm.coefC, 6) + " # Kernel Parameter -c\n";
    return out;
}

std::string resultsText(const std::vector<RawDocument>& documents) {
    std::string out;
    for (const auto& d : documents) {
        out += d.fileName;
        out += fmt::format(" {} {}\n", d.trueCategory, d.assignedCategory);
    }
    return out;
}

Result<CategoryTable> readClasses(const std::string& path) {
    const Result<std::vector<std::string>> lines = readLines(path);
    if (!lines) return lines.status();
    CategoryTable categories;
    for (const auto& line : *lines) {
        if (line.empty()) continue;
        // The id is the line's position; the name is everything after the
        // first space, so names containing spaces survive.
        const size_t space = line.find(' ');
        categories.push_back({space == std::string::npos ? line : line.substr(space + 1), 0});
    }
    return categories;
}

Result<FeatureTable> readFeatures(const std::string& path) {
    const Result<std::vector<std::string>> lines = readLines(path);
    if (!lines) return lines.status();
    FeatureTable features;
    for (const auto& line : *lines) {
        if (line.empty()) continue;
        // "id word idf": the id before the first space, the idf after the
        // last one, and the word everything between, so that a word holding
        // spaces reads back whole.
        const size_t first = line.find(' ');
        const std::string_view view(line);
        const int64_t id = leadingInteger(view.substr(0, first));
        std::string word;
        double weight = 0.0;
        if (first != std::string::npos) {
            const size_t last = line.rfind(' ');
            if (last == first) {
                word = line.substr(first + 1);
            } else {
                word = line.substr(first + 1, last - first - 1);
                weight = leadingReal(view.substr(last + 1));
            }
        }
        features[word] = FeatureInfo{static_cast<uint32_t>(id), weight};
    }
    return features;
}

Result<FsInfo> readFsInfo(const std::string& path, std::string* modeWord) {
    const Result<std::vector<std::string>> read = readLines(path);
    if (!read) return read.status();
    const std::vector<std::string>& lines = *read;
    FsInfo info;
    const std::string token = lines.empty() ? std::string() : firstToken(lines[0]);
    if (modeWord) *modeWord = token;
    info.mode = selectionModeFromName(token);
    info.oldDimensionality = lines.size() > 1 ? static_cast<uint32_t>(leadingInteger(lines[1])) : 0;
    info.newDimensionality = lines.size() > 2 ? static_cast<uint32_t>(leadingInteger(lines[2])) : 0;
    return info;
}

Result<ClassifierParams> readParams(const std::string& path, std::string* classifierWord) {
    const Result<std::vector<std::string>> read = readLines(path);
    if (!read) return read.status();
    const std::vector<std::string>& lines = *read;
    const std::string token = lines.empty() ? std::string() : firstToken(lines[0]);
    if (classifierWord) *classifierWord = token;
    auto fail = [&](size_t line, const std::string& what) { return Status::failure(lineError(path, line + 1, what)); };
    ClassifierParams p;
    if (token != "KNN" && token != "SVM") return fail(0, "the classifier is neither KNN nor SVM");
    long value = 0;
    if (token == "KNN") {
        if (!lineLong(lines, 1, value) || value < 1 || value > INT32_MAX)
            return fail(1, "the number of neighbours k must be a whole number of at least 1");
        p.k = static_cast<uint32_t>(value);
        if (!lineLong(lines, 2, value) || value < 0 || value > 2)
            return fail(2, "the similarity must be 0 (cosine), 1 (Manhattan) or 2 (Euclidean)");
        p.similarity = static_cast<Similarity>(value);
        p.classifier = ClassifierKind::Knn;
        return p;
    }
    if (!lineLong(lines, 1, value) || (value != 0 && value != 1))
        return fail(1, "the biased-hyperplane flag must be 0 or 1");
    p.svm.biased = static_cast<int>(value);
    if (!lineLong(lines, 2, value) || value < 0 || value > 3)
        return fail(2, "the kernel type must be 0 (linear), 1 (polynomial), 2 (radial basis) or 3 (sigmoid)");
    p.svm.kernelType = static_cast<int>(value);
    if (!lineReal(lines, 3, p.svm.tolerance)) return fail(3, "the tolerance is not a number");
    if (!lineLong(lines, 4, p.svm.degree)) return fail(4, "the kernel parameter -d is not a whole number");
    if (!lineReal(lines, 5, p.svm.gamma)) return fail(5, "the kernel parameter -g is not a number");
    if (!lineReal(lines, 6, p.svm.coefS)) return fail(6, "the kernel parameter -s is not a number");
    if (!lineReal(lines, 7, p.svm.coefC)) return fail(7, "the kernel parameter -c is not a number");
    p.classifier = ClassifierKind::Svm;
    return p;
}

Status checkVectorLabels(const std::string& path, size_t categoryCount) {
    // Read a block at a time: train.dat of a large corpus need not fit in memory.
    Status checked;
    Status read = forEachFileLine(path, [&](std::string_view line, int64_t number) {
        long label = 0;
        if (!parseWholeLong(firstToken(line), label) || (label >= 1 && size_t(label) <= categoryCount)) return true;
        checked = Status::failure(lineError(path, size_t(number),
                                            "label " + std::to_string(label) + ", but classes.txt lists " +
                                                std::to_string(categoryCount) + " categories (labels 1 to " +
                                                std::to_string(categoryCount) + ")"));
        return false;
    });
    return read ? checked : read;
}

Result<std::string> readClassifierWord(const std::string& path) {
    const Result<std::vector<std::string>> lines = readLines(path);
    if (!lines) return lines.status();
    return lines->empty() ? std::string() : firstToken((*lines)[0]);
}

Status writeFeatures(const std::string& path, const FeatureTable& features) {
    return writeFileAtomically(path, featuresText(features));
}

Status writeFsInfo(const std::string& path, const FsInfo& info) {
    return writeFileAtomically(path, fsInfoText(info));
}

Status writeParams(const std::string& path, const ClassifierParams& params) {
    return writeFileAtomically(path, paramsText(params));
}

Status writeClassifierSettings(const std::string& dir, const ClassifierParams& params, const FsInfo& info) {
    if (Status written = writeParams(dir + "params.dat", params); !written) return written;
    return writeFsInfo(dir + "fsinfo.dat", info);
}

}  // namespace kestrel
