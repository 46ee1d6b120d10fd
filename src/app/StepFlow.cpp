#include "app/StepFlow.h"

#include <chrono>
#include <fmt/format.h>
#include <fstream>

#include "app/CorpusCounting.h"
#include "app/TextClassifier.h"
#include "workspace/VectorProvenance.h"
#include "common/FileSystem.h"
#include "common/Progress.h"
#include "evaluate/Evaluation.h"

namespace kestrel {

namespace {

constexpr const char* kStepCaption = "步骤";
// At most this many warnings are listed in a detail text.
constexpr size_t kMaxDetailLines = 200;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string durationText(double seconds) {
    if (seconds < 60) return fmt::format("{:.1f}秒", seconds);
    const long whole = static_cast<long>(seconds + 0.5);
    if (whole < 3600) return fmt::format("{}分{:02}秒", whole / 60, whole % 60);
    return fmt::format("{}小时{:02}分", whole / 3600, whole / 60 % 60);
}

// Lines of a vector file, read in blocks so that memory stays bounded.
size_t countLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char buffer[1 << 16];
    size_t lines = 0;
    while (in) {
        in.read(buffer, sizeof buffer);
        for (std::streamsize i = 0; i < in.gcount(); ++i) lines += buffer[i] == '\n';
    }
    return lines;
}

const char* vectorFileName(int vectorMode) {
    switch (vectorMode) {
    case kTrainingVectors: return "train.dat";
    case kTestVectors: return "test.dat";
    default: return "example.dat";
    }
}

// Why pressing 分类评测 opened nothing.
constexpr const char* kNotATestCorpus =
    "当前没有可评测的测试文档：分类评测只对带类别的测试文档进行。\n"
    "请在“原始文本”中勾选“测试”，选择每个类别一个子目录的测试文档，"
    "再进行中间处理和文本分类。";
constexpr const char* kStaleVectors = "原始文档的向量是按另一次特征选择或另一个训练文本写成的，请先进行中间处理！";

}  // namespace

const std::array<StepButtonInfo, 11>& stepButtons() {
    static const std::array<StepButtonInfo, 11> buttons = {{
        {kStepTrainingText, "训练文本", "训练文本", "指定训练文档所在的目录及格式"},
        {kStepRawText, "原始文本", "原始文本", "指定原始文档所在的目录及格式"},
        {kStepPreprocess, "预处理", "预处理", "对训练文档进行分词、去除<br>停用词等或者进行文档拷贝"},
        {kStepIntermediate, "中间处理", "中间处理", "用向量空间模型表示原始文档"},
        {kStepIndex, "特征表示", "特征索引", "遍历训练文档产生候选特征项"},
        {kStepSelect, "特征选择", "特征选择", "从候选特征项中选择具有代表性的特征项"},
        {kStepMethod, "分类模型", "分类模型", "设定分类算法KNN或SVM的参数"},
        {kStepClassify, "文本分类", "文本分类", "根据设定的分类算法对原始文档进行分类"},
        {kStepResults, "分类结果", "分类结果", "显示原始文档的分类结果"},
        {kStepEvaluate, "分类评测", "分类评测", "对测试文档的分类结果进行评测"},
        {kStepRepresentation, "文本表示", "文本表示", "显示类别、特征项信息<br>随机显示一篇文本的向量表示"},
    }};
    return buttons;
}

const StepButtonInfo* stepButton(int id) {
    for (const auto& button : stepButtons())
        if (button.id == id) return &button;
    return nullptr;
}

std::string stepTooltip(const StepButtonInfo& button) {
    return std::string("<b><ct=0x0000FF><al_c>") + button.tipTitle + "</b><br><ct=0x00AA00><hr=100%></ct><br>" +
           button.tipDescription;
}

StepFlow::StepFlow(TextClassifier& classifier, StepUi& ui) : classifier_(classifier), ui_(ui) {}

void StepFlow::press(int id) {
    switch (id) {
    case kStepTrainingText: trainingText(); break;
    case kStepRawText: rawText(); break;
    case kStepPreprocess: preprocess(); break;
    case kStepIntermediate: intermediate(); break;
    case kStepIndex: index(); break;
    case kStepSelect: select(); break;
    case kStepMethod: method(); break;
    case kStepClassify: classify(); break;
    case kStepResults: results(); break;
    case kStepEvaluate: evaluate(); break;
    case kStepRepresentation: representation(); break;
    default: return;
    }
    staleVectors_ = vectorsStale();
}

void StepFlow::refuse(const char* text) { ui_.showWarning({kStepCaption, text, {}}); }

// What each button's refusal asks for.
bool StepFlow::possible(int id) const {
    const StepFlags& f = flags_;
    switch (id) {
    case kStepPreprocess: return f.trainingTextSet;
    case kStepIndex: return f.preprocessed;
    case kStepSelect: return f.indexed && !f.classifierLoaded;
    case kStepRepresentation: return f.featuresSelected;
    case kStepMethod: return f.trainingTextSet;
    case kStepIntermediate: return f.rawTextSet;
    case kStepClassify: return f.methodSet && !staleVectors_;
    case kStepResults: return f.classified;
    case kStepEvaluate: return f.classified && corpusVectorMode() == kTestVectors;
    default: return true;
    }
}

bool StepFlow::done(int id) const {
    const StepFlags& f = flags_;
    switch (id) {
    case kStepTrainingText: return f.trainingTextSet;
    case kStepPreprocess: return f.preprocessed;
    case kStepIndex: return f.indexed;
    case kStepSelect: return f.featuresSelected;
    case kStepMethod: return f.methodSet;
    case kStepRawText: return f.rawTextSet;
    // Vectors written under other features must be written again, and
    // what was classified with them is no longer current.
    case kStepIntermediate: return f.rawProcessed && !staleVectors_;
    case kStepClassify: return f.classified && !staleVectors_;
    default: return false;  // the result windows only show
    }
}

StepState StepFlow::state(int id) const {
    if (done(id)) return StepState::kDone;
    if (!possible(id)) return StepState::kBlocked;
    // The next step is the first one of a typical run that is possible and
    // not done; after classification the results are next.
    static constexpr int kOrder[] = {kStepTrainingText, kStepPreprocess, kStepIndex,    kStepSelect, kStepMethod,
                                     kStepRawText,      kStepIntermediate, kStepClassify, kStepResults};
    for (int step : kOrder) {
        if (!done(step) && possible(step)) return step == id ? StepState::kNext : StepState::kPossible;
    }
    return StepState::kPossible;
}

void StepFlow::setOutcome(std::string text, double seconds) {
    outcome_ = std::move(text) + "，用时" + durationText(seconds);
}

int StepFlow::corpusVectorMode() const { return flags_.rawTextSet ? rawVectorMode_ : classifier_.vectorMode; }

bool StepFlow::vectorsStale() const {
    if (classifier_.workspacePath.empty()) return false;
    // The file classification reads: the raw corpus's when one is set.
    const int mode = corpusVectorMode() == kTestVectors ? kTestVectors : kExampleVectors;
    return vectorOrigin(classifier_.workspacePath, vectorFileName(mode)) == VectorOrigin::kStale;
}

std::string StepFlow::detailOf(const LongStepResult& result, const Status& failure,
                               const std::vector<std::string>& warnings) const {
    std::string detail;
    auto addLine = [&](const std::string& line) {
        if (line.empty()) return;
        if (!detail.empty()) detail += '\n';
        detail += line;
    };
    addLine(result.error);
    if (!result.ok) addLine(failure.message());
    for (size_t i = 0; i < warnings.size() && i < kMaxDetailLines; ++i) addLine(warnings[i]);
    if (warnings.size() > kMaxDetailLines)
        addLine(fmt::format("……共{}条", warnings.size()));
    return detail;
}

void StepFlow::reportWarnings(const char* caption, const std::vector<std::string>& warnings) {
    if (warnings.empty()) return;
    LongStepResult done;
    done.ok = true;
    ui_.showWarning({caption, fmt::format("步骤已完成，但有{}个问题（详见详细信息）。", warnings.size()),
                     detailOf(done, Status(), warnings)});
}

// 1000: clears every flag, then sets up a new training run or loads an
// existing classifier.
void StepFlow::trainingText() {
    flags_.clearAll();
    TrainingTextModel model;
    if (!ui_.runTrainingTextDialog(model)) return;
    if (model.loadChecked) {
        classifier_.workspacePath = model.modelDir;
        if (const Status loaded = classifier_.loadClassifier(); !loaded) {
            ui_.showWarning({"模型", "读取分类模型失败！", loaded.message()});
            return;
        }
        flags_.classifierLoaded = flags_.preprocessed = flags_.indexed = flags_.featuresSelected = true;
        outcome_ = fmt::format("已读取分类器：{}类，{}个特征项（{}）", classifier_.categoryCount,
                               classifier_.featureTable().size(), selectionModeName(classifier_.selectionMode));
    } else {
        classifier_.trainingCorpusPath = model.trainingCorpusPath;
        classifier_.workspacePath = model.workspacePath;
        classifier_.trainingFormat = model.inputFormat;
        classifier_.categoryCount = model.categoryCount;
        classifier_.trainingDocCount = model.docTotal;
        outcome_ = fmt::format("训练文本：{}类，{}篇文档", model.categoryCount, model.docTotal);
    }
    classifier_.vectorMode = kTrainingVectors;
    flags_.trainingTextSet = true;
}

// 1002: runs once per training run; nothing after a load.
void StepFlow::preprocess() {
    if (flags_.preprocessed || flags_.classifierLoaded) return;
    if (!flags_.trainingTextSet) return refuse("请先进行训练文本设置！");
    const auto start = Clock::now();
    Status failure;
    const auto result = ui_.runLongStep("预处理", [&](ProgressSink& sink) {
        failure = classifier_.preprocessTraining(&sink);
        return failure.ok();
    });
    if (result.cancelled) return setOutcome("预处理已取消", secondsSince(start));
    if (!result.ok) {
        setOutcome("训练文本预处理失败", secondsSince(start));
        ui_.showWarning({"预处理", "训练文本预处理失败！", detailOf(result, failure, classifier_.warnings())});
        return;
    }
    flags_.preprocessed = true;
    const PreprocessReport& report = classifier_.preprocessReport();
    setOutcome(fmt::format("预处理完成：{}类，{}篇训练文档，跳过{}篇", classifier_.categoryCount,
                           report.documents - report.failed, report.failed),
               secondsSince(start));
    reportWarnings("预处理", classifier_.warnings());
}

// 1004: the index is built at most once per training run.
void StepFlow::index() {
    if (!flags_.preprocessed) return refuse("请先进行预处理！");
    if (flags_.indexed || flags_.classifierLoaded) return;
    const auto start = Clock::now();
    Status failure;
    const auto result = ui_.runLongStep("特征索引", [&](ProgressSink& sink) {
        failure = classifier_.buildIndex(&sink);
        return failure.ok();
    });
    if (result.cancelled) return setOutcome("特征索引已取消", secondsSince(start));
    if (!result.ok) {
        setOutcome("特征索引失败", secondsSince(start));
        ui_.showWarning({"特征索引", "特征索引失败！", detailOf(result, failure, classifier_.warnings())});
        return;
    }
    flags_.indexed = true;
    setOutcome(fmt::format("特征索引完成：{}个候选特征项", classifier_.oldDimensionality()), secondsSince(start));
    reportWarnings("特征索引", classifier_.warnings());
}

// 1005: selection needs the candidate index of this run, which a loaded
// workspace does not have.
void StepFlow::select() {
    if (!flags_.indexed) return refuse("请先进行特征索引！");
    if (flags_.classifierLoaded)
        return refuse("已读取的分类器没有候选特征索引，不能在其上重新选择特征。"
                      "请重新进行训练文本设置（不读取已有分类器），完成预处理和特征索引后再进行特征选择！");
    FeatureSelectionModel model;
    if (!ui_.runFeatureSelectionDialog(model)) return;
    classifier_.selectionMode = model.mode;
    classifier_.newDimensionality = model.dimension;
    bool selected = false;
    Status failure;
    std::vector<std::string> warnings;
    const auto start = Clock::now();
    const auto result = ui_.runLongStep("特征选择", [&](ProgressSink& sink) {
        failure = classifier_.selectFeatures(&sink);
        if (!failure) return false;
        selected = true;
        warnings = classifier_.warnings();
        failure = classifier_.writeVectors(&sink);
        warnings.insert(warnings.end(), classifier_.warnings().begin(), classifier_.warnings().end());
        return failure.ok();
    });
    // New features without their train.dat do not make a usable selection.
    if (selected && (!result.ok || result.cancelled)) flags_.featuresSelected = false;
    if (result.cancelled) return setOutcome("特征选择已取消", secondsSince(start));
    if (!result.ok) {
        setOutcome(selected ? "训练文档向量写入失败" : "特征选择失败", secondsSince(start));
        ui_.showWarning({"特征选择", selected ? "训练文档向量写入失败！" : "特征选择失败！",
                         detailOf(result, failure, warnings)});
        return;
    }
    flags_.featuresSelected = true;
    // Rough-set selection keeps the reduct and fills up to the dimension.
    const std::string reduct =
        classifier_.selectionMode == kRs ? fmt::format("，粗集约简后{}个，", classifier_.reductSize()) : "中";
    std::string text = fmt::format("特征选择（{}）完成：{}个候选特征项{}保留{}个，train.dat写入{}篇训练文档向量",
                                   selectionModeName(classifier_.selectionMode), classifier_.oldDimensionality(),
                                   reduct, classifier_.featureTable().size(),
                                   countLines(classifier_.workspacePath + vectorFileName(kTrainingVectors)));
    // The rough-set count is shown in a box while the work goes on; the
    // time is the work's, not the reading of the box.
    setOutcome(std::move(text), result.seconds);
    if (flags_.rawProcessed && vectorsStale()) outcome_ += "。原始文档的向量须重新进行中间处理";
    reportWarnings("特征选择", warnings);
}

// 1010
void StepFlow::representation() {
    if (!flags_.featuresSelected) return refuse("请先进行特征选择！");
    ui_.openTextRepresentation();
}

// 1001: clears the flags of the classification side, then asks for the
// raw corpus.
void StepFlow::rawText() {
    flags_.rawTextSet = flags_.rawProcessed = flags_.methodSet = flags_.classified = false;
    RawTextModel model;
    // The training categories: those preprocessed or loaded, or before
    // preprocessing the training corpus's sub-folders (the controller may
    // still hold an earlier run's).
    if (flags_.preprocessed || flags_.classifierLoaded) {
        for (const auto& category : classifier_.categories()) model.trainingCategories.push_back(category.name);
    } else if (flags_.trainingTextSet && !classifier_.trainingCorpusPath.empty()) {
        model.trainingCategories = listSubdirectories(classifier_.trainingCorpusPath).valueOr({});
    }
    if (!ui_.runRawTextDialog(model)) return;
    classifier_.rawFormat = model.inputFormat;
    classifier_.vectorMode = model.vectorMode;
    classifier_.rawCorpusPath = model.rawCorpusPath;
    classifier_.rawDocCount = model.docTotal;
    rawVectorMode_ = model.vectorMode;
    flags_.rawTextSet = true;
    outcome_ = model.vectorMode == kTestVectors
                   ? fmt::format("原始文本：{}类测试文档，{}篇", model.categoryCount, model.docTotal)
                   : fmt::format("原始文本：{}篇实例文档", model.docTotal);
}

// 1003: preprocesses the raw corpus and writes its vectors, in the raw
// corpus's format and vector mode even when a feature selection has run
// since the raw text was set.
void StepFlow::intermediate() {
    if (!flags_.rawTextSet) return refuse("请先进行原始文本设置！");
    classifier_.vectorMode = rawVectorMode_;
    bool preprocessed = false;
    Status failure;
    std::vector<std::string> warnings;
    const auto start = Clock::now();
    const auto result = ui_.runLongStep("中间处理", [&](ProgressSink& sink) {
        failure = classifier_.preprocessRaw(&sink);
        if (!failure) return false;
        preprocessed = true;
        warnings = classifier_.warnings();
        failure = classifier_.writeVectors(&sink);
        warnings.insert(warnings.end(), classifier_.warnings().begin(), classifier_.warnings().end());
        return failure.ok();
    });
    if (result.cancelled) return setOutcome("中间处理已取消", secondsSince(start));
    if (!result.ok) {
        setOutcome(preprocessed ? "原始文档向量写入失败" : "原始文本预处理失败", secondsSince(start));
        ui_.showWarning({"预处理", preprocessed ? "原始文档向量写入失败！" : "原始文本预处理失败！",
                         detailOf(result, failure, warnings)});
        return;
    }
    flags_.rawProcessed = true;
    const PreprocessReport& report = classifier_.preprocessReport();
    setOutcome(fmt::format("中间处理完成：{}篇原始文档，跳过{}篇，{}写入{}篇文档向量",
                           report.documents - report.failed, report.failed, vectorFileName(rawVectorMode_),
                           classifier_.rawDocuments().size()),
               secondsSince(start));
    reportWarnings("预处理", warnings);
}

// 1006: the dialog writes params.dat and fsinfo.dat itself.
// Without a training run or a loaded workspace there is no workspace to
// write into, so the step asks for the training text first.
void StepFlow::method() {
    if (!flags_.trainingTextSet) return refuse("请先进行训练文本设置！");
    MethodModel model;
    model.workspacePath = classifier_.workspacePath;
    model.fsInfo = classifier_.fsInfo();
    if (!ui_.runMethodDialog(model)) return;
    flags_.methodSet = true;
    outcome_ = model.classifier == ClassifierKind::Knn
                   ? fmt::format("分类模型：KNN，K={}", model.k)
                   : fmt::format("分类模型：SVM，{}", MethodModel::kernelNames()[static_cast<size_t>(model.kernelType) % 4]);
}

// 1007: classifies the raw corpus (or whatever vector file the workspace
// holds) and writes result.dat.
void StepFlow::classify() {
    if (!flags_.methodSet) return refuse("请先进行分类方法设置！");
    classifier_.vectorMode = corpusVectorMode();
    if (vectorsStale()) return refuse(kStaleVectors);
    const auto start = Clock::now();
    Status failure;
    const auto result = ui_.runLongStep("文本分类", [&](ProgressSink& sink) {
        failure = classifier_.classify(&sink);
        return failure.ok();
    });
    if (result.cancelled) return setOutcome("文本分类已取消", secondsSince(start));
    const auto warnings = classifier_.warnings();
    const std::string detail = detailOf(result, failure, warnings);
    // result.dat follows the raw-document list even when nothing could be
    // classified, as a classification run always leaves it.
    if (const Status written = classifier_.writeResults(); !written)
        ui_.showWarning({"分类", "分类结果文件写入失败！", written.message()});
    if (!result.ok) {
        setOutcome("文本分类失败", secondsSince(start));
        ui_.showWarning({"分类", "文本分类失败！", detail});
        return;
    }
    flags_.classified = true;
    size_t classified = 0;
    for (const auto& doc : classifier_.rawDocuments()) classified += doc.assignedCategory >= 0;
    std::string text = fmt::format("文本分类完成：{}类，{}篇文档", classifier_.categoryCount, classified);
    if (classifier_.vectorMode == kTestVectors) {
        const Evaluation evaluation(classifier_.categories(), classifier_.rawDocuments(),
                                    static_cast<uint32_t>(classifier_.rawDocuments().size()));
        const double accuracy = evaluation.microAverage().recall;
        text += fmt::format("，微平均正确率{:.2f}%", accuracy * 100);
    }
    setOutcome(std::move(text), secondsSince(start));
    reportWarnings("分类", warnings);
}

// 1008
void StepFlow::results() {
    if (!flags_.classified) return refuse("请先进行文本分类！");
    // A feature selection since has set the controller to training vectors;
    // the windows show the raw corpus that was classified.
    classifier_.vectorMode = corpusVectorMode();
    ui_.openResults(classifier_.vectorMode);
}

// 1009: only a labelled corpus is evaluated; otherwise the person is told
// why nothing opens.
void StepFlow::evaluate() {
    classifier_.vectorMode = corpusVectorMode();
    if (classifier_.vectorMode == kTestVectors) ui_.openEvaluation();
    else ui_.showWarning({"分类评测", kNotATestCorpus, {}});
}

}  // namespace kestrel
