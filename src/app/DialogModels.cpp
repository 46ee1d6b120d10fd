#include "app/DialogModels.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "app/CorpusCounting.h"
#include "app/WorkspaceTransaction.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"

namespace kestrel {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// Categories (sub-directories) of dir and the matching documents in them.
void countCategories(const std::string& dir, int inputFormat, uint32_t& categories, uint32_t& documents) {
    const CorpusCount count = dir.empty() ? CorpusCount{} : countCategorisedCorpus(dir, inputFormat);
    categories = count.categories;
    documents = count.documents;
}

}  // namespace

std::string chosenDirectoryPath(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + "/";
}

// ---- training text --------------------------------------------------------

void TrainingTextModel::chooseTrainingCorpus(const std::string& folder) {
    // The workspace "model" beside the corpus.
    workspacePath = defaultWorkspaceFor(folder);
    trainingCorpusPath = chosenDirectoryPath(folder);
    count();
}

void TrainingTextModel::chooseWorkspace(const std::string& folder) { workspacePath = chosenDirectoryPath(folder); }

void TrainingTextModel::chooseModelDirectory(const std::string& folder) {
    modelDir = chosenDirectoryPath(folder);
    modelDirChosen = true;
}

void TrainingTextModel::setLoadChecked(bool checked) {
    loadChecked = checked;
    if (checked) {
        // The corpus edits are cleared, so nothing counted for them may
        // stand: an unchecked box would otherwise accept an empty corpus.
        trainingCorpusPath.clear();
        workspacePath.clear();
        categoryCount = 0;
        docTotal = 0;
        statusLine.clear();
    } else {
        modelDir.clear();
        modelDirChosen = false;
    }
}

void TrainingTextModel::count() {
    countCategories(trainingCorpusPath, inputFormat, categoryCount, docTotal);
    statusLine = formatString("共%u类训练文档,总共%u篇", categoryCount, docTotal);
}

std::optional<StepMessage> TrainingTextModel::accept() {
    if (loadChecked && !modelDirChosen) return StepMessage{"训练", "未指定原始分类模型！", {}};
    if (!loadChecked && docTotal == 0) return StepMessage{"训练", "不存在训练文档！", {}};
    if (!workspacePath.empty()) makeDirectory(workspacePath);
    return std::nullopt;
}

// ---- raw text -------------------------------------------------------------

void RawTextModel::chooseRawCorpus(const std::string& folder) {
    rawCorpusPath = chosenDirectoryPath(folder);
    count();
}

void RawTextModel::toggleTest() {
    testChecked = !testChecked;
    vectorMode = testChecked ? kTestVectors : kExampleVectors;
}

void RawTextModel::count() {
    if (vectorMode == kTestVectors) {
        countCategories(rawCorpusPath, inputFormat, categoryCount, docTotal);
        statusLine = formatString("共%u类测试文档,总共%u篇", categoryCount, docTotal);
    } else {
        categoryCount = 0;
        docTotal = rawCorpusPath.empty() ? 0 : countDocuments(rawCorpusPath, inputFormat);
        statusLine = formatString("共%u篇实例文档", docTotal);
    }
}

std::optional<StepMessage> RawTextModel::accept() const {
    if (docTotal == 0) return StepMessage{"分类", "不存在原始文档！", {}};
    return std::nullopt;
}

// ---- feature selection ----------------------------------------------------

std::optional<StepMessage> FeatureSelectionModel::setDimensionText(std::string_view text) {
    const auto value = parseInteger(text);
    if (!value || *value < 0 || static_cast<unsigned long>(*value) > std::numeric_limits<uint32_t>::max())
        return StepMessage{"特征选择", "请输入一个0到4294967295之间的整数。", {}};
    dimension = static_cast<uint32_t>(*value);
    return std::nullopt;
}

// ---- classification method ------------------------------------------------

const std::array<const char*, 4>& MethodModel::kernelNames() {
    static const std::array<const char*, 4> names = {
        "0:线性核", "1:多项式核(s(x*y)+c)^d", "2:径向基核exp(-g||x-t||^2)", "3:S形核tanh(s(x*y)+c)"};
    return names;
}

std::array<bool, 4> MethodModel::kernelParametersEnabled(int kernelType) {
    switch (kernelType) {
    case 1: return {true, false, true, true};
    case 2: return {false, true, false, false};
    case 3: return {false, false, true, true};
    default: return {false, false, false, false};
    }
}

void MethodModel::setK(int value) {
    k = value < kMinK ? kMinK : (value > kMaxK ? kMaxK : value);
}

std::optional<StepMessage> MethodModel::setNumberTexts(std::string_view toleranceText, std::string_view degreeText,
                                                       std::string_view gammaText, std::string_view sText,
                                                       std::string_view cText) {
    const auto tol = parseReal(toleranceText);
    const auto d = parseInteger(degreeText);
    const auto g = parseReal(gammaText);
    const auto s = parseReal(sText);
    const auto c = parseReal(cText);
    if (!d) return StepMessage{"分类模型", "请输入一个整数。", {}};
    if (!tol || !g || !s || !c) return StepMessage{"分类模型", "请输入一个数字。", {}};
    tolerance = *tol;
    degree = *d;
    gamma = *g;
    coefS = *s;
    coefC = *c;
    return std::nullopt;
}

ClassifierParams MethodModel::params() const {
    ClassifierParams p;
    p.classifier = classifier;
    p.k = static_cast<uint32_t>(k);
    p.similarity = static_cast<uint32_t>(similarity);
    p.svm.biased = biased ? 1 : 0;
    p.svm.kernelType = kernelType;
    p.svm.tolerance = tolerance;
    p.svm.degree = degree;
    p.svm.gamma = gamma;
    p.svm.coefS = coefS;
    p.svm.coefC = coefC;
    return p;
}

std::optional<StepMessage> MethodModel::accept() const {
    std::string error;
    // Both files change together, under the workspace's lock.
    WorkspaceTransaction update(workspacePath);
    if (!update.begin("method", error) || !writeParams(update.directory() + "params.dat", params(), &error) ||
        !writeFsInfo(update.directory() + "fsinfo.dat", fsInfo, &error) || !update.commit(error))
        return StepMessage{"分类模型", "无法写入分类参数文件！", error};
    return std::nullopt;
}

// ---- numbers --------------------------------------------------------------

std::string formatNumber(double value) { return realText(value, 15); }

std::optional<double> parseReal(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    // Plain decimal notation only: no "inf", "nan" or hexadecimal.
    for (char ch : text) {
        const bool ok = (ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '+' || ch == 'e' || ch == 'E';
        if (!ok) return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<long> parseInteger(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace kestrel
