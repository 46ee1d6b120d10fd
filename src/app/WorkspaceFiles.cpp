#include "app/WorkspaceFiles.h"

#include <cstdlib>

#include "common/FileSystem.h"
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

// Real value of the leading text the way strtod reads it; 0 without a number.
double leadingReal(std::string_view text) {
    const std::string s(text);
    return std::strtod(s.c_str(), nullptr);
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
        out += formatString("%u ", static_cast<unsigned>(i));
        out += categories[i].name;
        out += '\n';
    }
    return out;
}

std::string fsInfoText(const FsInfo& info) {
    std::string out = selectionModeName(info.mode);
    out += " # FSMode\n";
    out += formatString("%ld # Old Dimensionality\n", static_cast<long>(info.oldDimensionality));
    out += formatString("%d # New Dimensionality\n", static_cast<int>(info.newDimensionality));
    return out;
}

std::string paramsText(const ClassifierParams& p) {
    if (p.classifier == 0) {
        return formatString("KNN # Classifier\n%d # Neighbor\n%d # Similarity\n", static_cast<int>(p.k),
                            static_cast<int>(p.similarity));
    }
    std::string out = "SVM # Classifier\n";
    out += formatString("%d # Biased Hyperplane\n", p.svm.biased);
    out += formatString("%d # Kernel Type\n", p.svm.kernelType);
    out += formatString("%f # Epsion\n", p.svm.tolerance);
    out += formatString("%ld # Kernel Parameter -d\n", p.svm.degree);
    out += formatString("%f # Kernel Parameter -g\n", p.svm.gamma);
    out += formatString("%f # Kernel Parameter -s\n", p.svm.coefS);
    out += formatString("%f # Kernel Parameter -c\n", p.svm.coefC);
    return out;
}

std::string resultsText(const std::vector<RawDocument>& documents) {
    std::string out;
    for (const auto& d : documents) {
        out += d.fileName;
        out += formatString(" %d %d\n", d.trueCategory, d.assignedCategory);
    }
    return out;
}

bool readClasses(const std::string& path, CategoryTable& categories, std::string* error) {
    std::vector<std::string> lines;
    if (!readLines(path, lines, error)) return false;
    categories.clear();
    for (const auto& line : lines) {
        if (line.empty()) continue;
        // The id is the line's position; the name is everything after the
        // first space, so names containing spaces survive.
        const size_t space = line.find(' ');
        categories.push_back({space == std::string::npos ? line : line.substr(space + 1), 0});
    }
    return true;
}

bool readFeatures(const std::string& path, FeatureTable& features, std::string* error) {
    std::vector<std::string> lines;
    if (!readLines(path, lines, error)) return false;
    features.clear();
    for (const auto& line : lines) {
        if (line.empty()) continue;
        const size_t first = line.find(' ');
        const std::string_view view(line);
        const int64_t id = leadingInteger(view.substr(0, first));
        std::string word;
        double weight = 0.0;
        if (first != std::string::npos) {
            const size_t second = line.find(' ', first + 1);
            word = line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
            if (second != std::string::npos) weight = leadingReal(view.substr(second));
        }
        features[word] = FeatureInfo{static_cast<uint32_t>(id), weight};
    }
    return true;
}

bool readFsInfo(const std::string& path, FsInfo& info, std::string* error, std::string* modeWord) {
    std::vector<std::string> lines;
    if (!readLines(path, lines, error)) return false;
    const std::string token = lines.empty() ? std::string() : firstToken(lines[0]);
    if (modeWord) *modeWord = token;
    info.mode = selectionModeFromName(token);
    info.oldDimensionality = lines.size() > 1 ? static_cast<uint32_t>(leadingInteger(lines[1])) : 0;
    info.newDimensionality = lines.size() > 2 ? static_cast<uint32_t>(leadingInteger(lines[2])) : 0;
    return true;
}

bool readParams(const std::string& path, ClassifierParams& p, std::string* error, std::string* classifierWord) {
    std::vector<std::string> lines;
    if (!readLines(path, lines, error)) return false;
    const std::string token = lines.empty() ? std::string() : firstToken(lines[0]);
    if (classifierWord) *classifierWord = token;
    auto line = [&](size_t i) -> std::string_view { return i < lines.size() ? std::string_view(lines[i]) : ""; };
    if (token == "KNN") {
        p.classifier = 0;
        p.k = static_cast<uint32_t>(leadingInteger(line(1)));
        p.similarity = static_cast<uint32_t>(leadingInteger(line(2)));
        return true;
    }
    p.classifier = 1;
    p.svm.biased = static_cast<int>(leadingInteger(line(1)));
    p.svm.kernelType = static_cast<int>(leadingInteger(line(2)));
    p.svm.tolerance = leadingReal(line(3));
    p.svm.degree = static_cast<long>(leadingInteger(line(4)));
    p.svm.gamma = leadingReal(line(5));
    p.svm.coefS = leadingReal(line(6));
    p.svm.coefC = leadingReal(line(7));
    return true;
}

bool writeFsInfo(const std::string& path, const FsInfo& info, std::string* error) {
    return writeFileAtomically(path, fsInfoText(info), error);
}

bool writeParams(const std::string& path, const ClassifierParams& params, std::string* error) {
    return writeFileAtomically(path, paramsText(params), error);
}

}  // namespace kestrel
