#include "app/DialogModels.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <limits>

#include "workspace/DefaultWorkspace.h"
#include "app/CorpusCounting.h"
#include "workspace/WorkspaceTransaction.h"
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
void countCategories(const std::string& dir, InputFormat format, uint32_t& categories, uint32_t& documents) {
    const CorpusCount count = dir.empty() ? CorpusCount{} : countCategorisedCorpus(dir, format);
    categories = count.categories;
    documents = count.documents;
}

InputFormat otherFormat(InputFormat format) {
    return format == InputFormat::RawText ? InputFormat::Preprocessed : InputFormat::RawText;
}

const char* formatCaption(InputFormat format) { return format == InputFormat::RawText ? "生文本格式" : "预处理文本格式"; }

// The documents of the other format where the chosen one found none.
std::string otherFormatHint(uint32_t others, InputFormat format, const char* where) {
    if (others == 0) return {};
    return fmt::format("{}没有*{}文档，但有{}篇*{}文档：请选择“{}”。", where, documentExtension(format), others,
                       documentExtension(otherFormat(format)), formatCaption(otherFormat(format)));
}

// Why a corpus that should have one sub-folder per category counted no
// document.
std::string categorisedHint(const std::string& dir, InputFormat format, uint32_t categories) {
    if (dir.empty()) return {};
    if (categories == 0) {
        const uint32_t loose = countDocuments(dir, InputFormat::RawText) + countDocuments(dir, InputFormat::Preprocessed);
        std::string hint = "每个类别须是所选目录下的一个子目录，该类的文档放在其中；所选目录下没有子目录";
        if (loose > 0) hint += fmt::format("，却直接有{}篇文档", loose);
        return hint + "。";
    }
    return otherFormatHint(countCategorisedCorpus(dir, otherFormat(format)).documents, format, "类别子目录中");
}

std::string withHint(const std::string& text, const std::string& hint) {
    return hint.empty() ? text : text + "\n" + hint;
}

// Names joined by "、", at most `limit` of them.
std::string nameList(const std::vector<std::string>& names) {
    constexpr size_t limit = 20;
    std::string out;
    for (size_t i = 0; i < names.size() && i < limit; ++i) out += (i ? "、" : "") + names[i];
    if (names.size() > limit) out += fmt::format("等{}个", names.size());
    return out;
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

void TrainingTextModel::setInputFormat(InputFormat format) {
    inputFormat = format;
    if (!trainingCorpusPath.empty()) count();
}

void TrainingTextModel::count() {
    countCategories(trainingCorpusPath, inputFormat, categoryCount, docTotal);
    hint = docTotal == 0 ? categorisedHint(trainingCorpusPath, inputFormat, categoryCount) : std::string();
    statusLine = withHint(fmt::format("共{}类训练文档,总共{}篇", categoryCount, docTotal), hint);
}

std::optional<StepMessage> TrainingTextModel::accept() {
    if (loadChecked && !modelDirChosen) return StepMessage{"训练", "未指定原始分类模型！", {}};
    if (!loadChecked && docTotal == 0) return StepMessage{"训练", withHint("不存在训练文档！", hint), {}};
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
    if (!rawCorpusPath.empty()) count();
}

void RawTextModel::setInputFormat(InputFormat format) {
    inputFormat = format;
    if (!rawCorpusPath.empty()) count();
}

void RawTextModel::count() {
    hint.clear();
    if (vectorMode == kTestVectors) {
        countCategories(rawCorpusPath, inputFormat, categoryCount, docTotal);
        if (docTotal == 0) hint = categorisedHint(rawCorpusPath, inputFormat, categoryCount);
        statusLine = withHint(fmt::format("共{}类测试文档,总共{}篇", categoryCount, docTotal), hint);
    } else {
        categoryCount = 0;
        docTotal = rawCorpusPath.empty() ? 0 : countDocuments(rawCorpusPath, inputFormat);
        if (docTotal == 0 && !rawCorpusPath.empty()) {
            const size_t folders = listSubdirectories(rawCorpusPath).valueOr({}).size();
            hint = folders > 0 ? fmt::format("所选目录下没有*{}文档，但有{}个子目录：带类别的测试文档请勾选“测试”。",
                                             documentExtension(inputFormat), folders)
                               : otherFormatHint(countDocuments(rawCorpusPath, otherFormat(inputFormat)),
                                                 inputFormat, "所选目录下");
        }
        statusLine = withHint(fmt::format("共{}篇实例文档", docTotal), hint);
    }
}

std::optional<StepMessage> RawTextModel::accept() const {
    if (docTotal == 0) return StepMessage{"分类", withHint("不存在原始文档！", hint), {}};
    if (vectorMode != kTestVectors || trainingCategories.empty()) return std::nullopt;
    // Every training category needs its sub-folder and nothing else may be
    // there: a missing folder leaves its category unevaluated, another
    // folder's documents would be left out without a word.
    const auto folders = listSubdirectories(rawCorpusPath).valueOr({});
    const auto absent = [](const std::vector<std::string>& in, const std::vector<std::string>& from) {
        std::vector<std::string> out;
        for (const auto& name : from)
            if (std::find(in.begin(), in.end(), name) == in.end()) out.push_back(name);
        return out;
    };
    const auto missing = absent(folders, trainingCategories);
    const auto extra = absent(trainingCategories, folders);
    if (missing.empty() && extra.empty()) return std::nullopt;
    std::string text = "测试文档的类别子目录与训练文档的类别不符！";
    if (!missing.empty()) text += "\n缺少的类别子目录：" + nameList(missing);
    if (!extra.empty()) text += "\n训练文档中没有的子目录：" + nameList(extra);
    text += "\n测试文档须为每个训练类别有一个同名的子目录。";
    return StepMessage{"分类", text, {}};
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
    static const std::array<const char*, 4> names = {kernelCaption(kLinearKernel), kernelCaption(kPolynomialKernel),
                                                     kernelCaption(kRadialKernel), kernelCaption(kSigmoidKernel)};
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
    // Only the fields of the chosen classifier and kernel must hold numbers.
    const bool svm = classifier == ClassifierKind::Svm;
    const auto used = kernelParametersEnabled(kernelType);
    if (svm && !tol) return StepMessage{"分类模型", "容忍偏差：请输入一个数字。", {}};
    if (svm && used[0] && !d) return StepMessage{"分类模型", "d：请输入一个整数。", {}};
    const std::pair<bool, const char*> reals[] = {{!g, "g"}, {!s, "s"}, {!c, "c"}};
    for (size_t i = 0; i < 3; ++i)
        if (svm && used[i + 1] && reals[i].first)
            return StepMessage{"分类模型", std::string(reals[i].second) + "：请输入一个数字。", {}};
    if (tol) tolerance = *tol;
    if (d) degree = *d;
    if (g) gamma = *g;
    if (s) coefS = *s;
    if (c) coefC = *c;
    return std::nullopt;
}

ClassifierParams MethodModel::params() const {
    ClassifierParams p;
    p.classifier = classifier;
    p.k = static_cast<uint32_t>(k);
    p.similarity = similarity;
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
    // Both files change together, under the workspace's lock.
    WorkspaceTransaction update(workspacePath);
    Status written = update.begin("method");
    if (written) written = writeClassifierSettings(update.directory(), params(), fsInfo);
    if (written) written = update.commit();
    if (!written) return StepMessage{"分类模型", "无法写入分类参数文件！", written.message()};
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
