#include <gtest/gtest.h>

#include "FlowTestSupport.h"
#include "app/TextClassifier.h"
#include "common/FileSystem.h"

namespace kestrel {
namespace {

using testing::FakeUi;
using testing::TempDir;

class StepFlowTest : public ::testing::Test {
protected:
    StepFlowTest() : flow(tc, ui) {
        testing::writeTinyCorpus(dir);
        ui.trainingText = [this](TrainingTextModel& m) {
            m.inputFormat = InputFormat::Preprocessed;
            m.chooseTrainingCorpus(dir.path("train"));
            return !m.accept();
        };
        ui.rawText = [this](RawTextModel& m) {
            if (rawTest) m.toggleTest();
            m.inputFormat = InputFormat::Preprocessed;
            m.chooseRawCorpus(dir.path(rawTest ? "test" : "unlabelled"));
            return !m.accept();
        };
    }

    // Training text, preprocessing, index and selection.
    void train() {
        for (int id : {kStepTrainingText, kStepPreprocess, kStepIndex, kStepSelect}) flow.press(id);
        ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    }
    void classifyRaw(bool test) {
        rawTest = test;
        for (int id : {kStepRawText, kStepIntermediate, kStepMethod, kStepClassify}) flow.press(id);
        ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text << "\n" << ui.messages.front().detail;
    }
    std::string lastText() const { return ui.messages.empty() ? std::string() : ui.messages.back().text; }

    TempDir dir;
    TextClassifier tc;
    FakeUi ui;
    StepFlow flow;
    bool rawTest = true;
};

TEST_F(StepFlowTest, RefusalsBeforeAnythingRanKeepEveryFlagCleared) {
    const std::pair<int, const char*> refusals[] = {
        {kStepPreprocess, "请先进行训练文本设置！"}, {kStepIndex, "请先进行预处理！"},
        {kStepSelect, "请先进行特征索引！"},         {kStepRepresentation, "请先进行特征选择！"},
        {kStepIntermediate, "请先进行原始文本设置！"}, {kStepClassify, "请先进行分类方法设置！"},
        {kStepResults, "请先进行文本分类！"},
    };
    for (const auto& [id, text] : refusals) {
        ui.clear();
        flow.press(id);
        ASSERT_EQ(ui.messages.size(), 1u) << id;
        EXPECT_EQ(ui.messages[0].caption, "步骤");
        EXPECT_EQ(ui.messages[0].text, text);
        EXPECT_TRUE(ui.longSteps.empty());
        EXPECT_EQ(flow.flags(), StepFlags{});
    }
    // Evaluation of a corpus that is not a test corpus opens nothing and
    // says why.
    ui.clear();
    flow.press(kStepEvaluate);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "分类评测");
    EXPECT_NE(ui.messages[0].text.find("测试"), std::string::npos);
    EXPECT_TRUE(ui.windows.empty());
    // The classification method needs a workspace to write into.
    ui.clear();
    flow.press(kStepMethod);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "请先进行训练文本设置！");
    EXPECT_FALSE(flow.flags().methodSet);
}

TEST_F(StepFlowTest, TrainingRunThenLabelledClassificationWritesTheWorkspace) {
    train();
    const auto& f = flow.flags();
    EXPECT_TRUE(f.trainingTextSet && f.preprocessed && f.indexed && f.featuresSelected);
    EXPECT_FALSE(f.classifierLoaded);
    EXPECT_EQ(tc.categoryCount, 2u);
    EXPECT_EQ(tc.trainingDocCount, 6u);
    classifyRaw(true);
    EXPECT_TRUE(flow.flags().rawTextSet && flow.flags().rawProcessed && flow.flags().methodSet &&
                flow.flags().classified);
    const std::string ws = dir.path("model/");
    for (const char* file : {"classes.txt", "features.txt", "train.dat", "test.dat", "params.dat", "fsinfo.dat",
                             "result.dat"})
        EXPECT_TRUE(fileExists(ws + file)) << file;
    EXPECT_EQ(dir.read("model/params.dat"), "KNN # Classifier\n20 # Neighbor\n0 # Similarity\n");
    ASSERT_EQ(tc.rawDocuments().size(), 4u);
    for (const auto& doc : tc.rawDocuments()) EXPECT_NE(doc.assignedCategory, RawDocument::kUnassigned);

    flow.press(kStepResults);
    flow.press(kStepEvaluate);
    flow.press(kStepRepresentation);
    EXPECT_EQ(ui.windows, (std::vector<std::string>{"results1", "evaluation", "representation"}));
}

TEST_F(StepFlowTest, CancellingTheTrainingTextDialogStillClearsEveryFlag) {
    train();
    classifyRaw(true);
    ui.trainingText = [](TrainingTextModel&) { return false; };
    flow.press(kStepTrainingText);
    EXPECT_EQ(flow.flags(), StepFlags{});
    flow.press(kStepPreprocess);
    EXPECT_EQ(lastText(), "请先进行训练文本设置！");
}

TEST_F(StepFlowTest, RepeatedOrLoadedStepsRunOnceAndSilently) {
    flow.press(kStepTrainingText);
    flow.press(kStepPreprocess);
    flow.press(kStepPreprocess);
    EXPECT_EQ(ui.longSteps, std::vector<std::string>{"预处理"});
    flow.press(kStepIndex);
    flow.press(kStepIndex);
    EXPECT_EQ(ui.longSteps.size(), 2u);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StepFlowTest, ClassificationIsAllowedBeforeIntermediateProcessing) {
    train();
    flow.press(kStepRawText);
    flow.press(kStepMethod);
    ui.clear();
    flow.press(kStepClassify);
    EXPECT_EQ(ui.longSteps, std::vector<std::string>{"文本分类"});
    for (const auto& m : ui.messages) EXPECT_NE(m.caption, "步骤");
}

TEST_F(StepFlowTest, ExampleCorpusIsClassifiedButNotEvaluated) {
    train();
    classifyRaw(false);
    EXPECT_TRUE(fileExists(dir.path("model/example.dat")));
    EXPECT_NE(dir.read("model/result.dat").find("u1.txt -1 "), std::string::npos);
    ui.clear();
    flow.press(kStepEvaluate);
    EXPECT_TRUE(ui.windows.empty());
    EXPECT_EQ(ui.messages.size(), 1u);
    flow.press(kStepResults);
    EXPECT_EQ(ui.windows, std::vector<std::string>{"results2"});
}

TEST_F(StepFlowTest, RawTextClearsOnlyTheClassificationFlags) {
    train();
    classifyRaw(true);
    ui.rawText = [](RawTextModel&) { return false; };
    flow.press(kStepRawText);
    const auto& f = flow.flags();
    EXPECT_TRUE(f.trainingTextSet && f.preprocessed && f.indexed && f.featuresSelected);
    EXPECT_FALSE(f.rawTextSet || f.rawProcessed || f.methodSet || f.classified);
}

TEST_F(StepFlowTest, LoadingAWorkspaceSkipsTrainingStepsAndRefusesSelection) {
    train();
    classifyRaw(true);
    const std::string ws = dir.path("model");
    ui.trainingText = [&](TrainingTextModel& m) {
        m.setLoadChecked(true);
        m.chooseModelDirectory(ws);
        return !m.accept();
    };
    ui.clear();
    flow.press(kStepTrainingText);
    ASSERT_TRUE(ui.messages.empty());
    const auto& f = flow.flags();
    EXPECT_TRUE(f.trainingTextSet && f.classifierLoaded && f.preprocessed && f.indexed && f.featuresSelected);
    EXPECT_EQ(tc.workspacePath, ws + "/");
    EXPECT_EQ(tc.categories().size(), 2u);

    flow.press(kStepPreprocess);
    flow.press(kStepIndex);
    EXPECT_TRUE(ui.longSteps.empty());
    flow.press(kStepRepresentation);
    EXPECT_EQ(ui.windows, std::vector<std::string>{"representation"});
    // Selection would work on an empty index and overwrite the loaded files.
    const std::string features = dir.read("model/features.txt");
    flow.press(kStepSelect);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "步骤");
    EXPECT_NE(ui.messages[0].text.find("特征索引"), std::string::npos);
    EXPECT_EQ(dir.read("model/features.txt"), features);

    // The loaded classifier classifies a new corpus.
    ui.clear();
    classifyRaw(false);
    EXPECT_TRUE(flow.flags().classified);
}

TEST_F(StepFlowTest, FailedLoadShowsTheModelMessageAndLeavesFlagsCleared) {
    dir.mkdir("empty");
    ui.trainingText = [&](TrainingTextModel& m) {
        m.setLoadChecked(true);
        m.chooseModelDirectory(dir.path("empty"));
        return !m.accept();
    };
    flow.press(kStepTrainingText);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "模型");
    EXPECT_EQ(ui.messages[0].text, "读取分类模型失败！");
    EXPECT_FALSE(ui.messages[0].detail.empty());
    EXPECT_EQ(flow.flags(), StepFlags{});
}

TEST_F(StepFlowTest, CancelledOrFailedStepsLeaveTheirFlagUnset) {
    flow.press(kStepTrainingText);
    ui.cancelNextStep = true;
    flow.press(kStepPreprocess);
    EXPECT_FALSE(flow.flags().preprocessed);
    EXPECT_TRUE(ui.messages.empty());

    // A training corpus that vanished: classes.txt cannot be built.
    std::filesystem::remove_all(dir.path("train"));
    flow.press(kStepPreprocess);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "预处理");
    EXPECT_EQ(ui.messages[0].text, "训练文本预处理失败！");
    EXPECT_FALSE(ui.messages[0].detail.empty());
    EXPECT_FALSE(flow.flags().preprocessed);
}

TEST_F(StepFlowTest, ACancelledIndexIsNotIndexedAndRunsAgain) {
    flow.press(kStepTrainingText);
    flow.press(kStepPreprocess);
    ui.cancelNextStep = true;
    flow.press(kStepIndex);
    EXPECT_FALSE(flow.flags().indexed);
    EXPECT_TRUE(ui.messages.empty());
    flow.press(kStepSelect);
    EXPECT_EQ(lastText(), "请先进行特征索引！");
    flow.press(kStepIndex);
    EXPECT_TRUE(flow.flags().indexed);
    EXPECT_GT(tc.oldDimensionality(), 0u);
}

TEST_F(StepFlowTest, CancelledSelectionDoesNotCountAsSelected) {
    flow.press(kStepTrainingText);
    flow.press(kStepPreprocess);
    flow.press(kStepIndex);
    ui.cancelNextStep = true;
    flow.press(kStepSelect);
    EXPECT_FALSE(flow.flags().featuresSelected);
    flow.press(kStepRepresentation);
    EXPECT_EQ(lastText(), "请先进行特征选择！");
}

TEST_F(StepFlowTest, IntermediateProcessingUsesTheRawCorpusModeAfterANewSelection) {
    train();
    rawTest = true;
    flow.press(kStepRawText);
    // Selecting again switches the controller to training vectors.
    flow.press(kStepSelect);
    const std::string train = dir.read("model/train.dat");
    flow.press(kStepIntermediate);
    ASSERT_TRUE(ui.messages.empty());
    EXPECT_TRUE(fileExists(dir.path("model/test.dat")));
    EXPECT_EQ(tc.rawDocuments().size(), 4u);
    EXPECT_EQ(dir.read("model/train.dat"), train);
}

TEST_F(StepFlowTest, ButtonStatesAndOutcomeLineFollowTheRun) {
    const auto states = [&] {
        std::string out;
        for (int id : {kStepTrainingText, kStepPreprocess, kStepIndex, kStepSelect, kStepMethod, kStepRawText,
                       kStepIntermediate, kStepClassify, kStepResults, kStepEvaluate, kStepRepresentation})
            out += "dNpb"[static_cast<int>(flow.state(id))];
        return out;
    };
    EXPECT_EQ(states(), "Nbbbbpbbbbb");
    EXPECT_TRUE(flow.outcome().empty());
    flow.press(kStepTrainingText);
    EXPECT_EQ(states(), "dNbbppbbbbb");
    EXPECT_EQ(flow.outcome(), "训练文本：2类，6篇文档");
    flow.press(kStepPreprocess);
    EXPECT_EQ(flow.outcome().rfind("预处理完成：2类，6篇训练文档，跳过0篇，用时", 0), 0u) << flow.outcome();
    flow.press(kStepIndex);
    EXPECT_EQ(flow.outcome().rfind("特征索引完成：", 0), 0u) << flow.outcome();
    flow.press(kStepSelect);
    EXPECT_NE(flow.outcome().find("train.dat写入6篇训练文档向量"), std::string::npos) << flow.outcome();
    EXPECT_EQ(states(), "ddddNpbbbbp");
    classifyRaw(true);
    EXPECT_EQ(states(), "ddddddddNpp");
    EXPECT_NE(flow.outcome().find("2类，4篇文档，微平均正确率"), std::string::npos) << flow.outcome();
    EXPECT_NE(flow.outcome().find("%，用时"), std::string::npos) << flow.outcome();
    // An example corpus is classified but has nothing to evaluate.
    classifyRaw(false);
    EXPECT_EQ(states(), "ddddddddNbp");
    EXPECT_EQ(flow.outcome().find("正确率"), std::string::npos) << flow.outcome();
}

TEST_F(StepFlowTest, VectorsOfAnotherSelectionAreRefusedUntilIntermediateProcessing) {
    train();
    classifyRaw(true);
    // A new selection without intermediate processing leaves test.dat stale.
    ui.featureSelection = [](FeatureSelectionModel& m) {
        m.dimension = 3;
        return true;
    };
    flow.press(kStepSelect);
    EXPECT_NE(flow.outcome().find("须重新进行中间处理"), std::string::npos) << flow.outcome();
    flow.press(kStepMethod);
    EXPECT_EQ(flow.state(kStepIntermediate), StepState::kNext);
    EXPECT_EQ(flow.state(kStepClassify), StepState::kBlocked);
    ui.clear();
    const std::string results = dir.read("model/result.dat");
    flow.press(kStepClassify);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "步骤");
    EXPECT_NE(ui.messages[0].text.find("请先进行中间处理！"), std::string::npos);
    EXPECT_TRUE(ui.longSteps.empty());
    EXPECT_EQ(dir.read("model/result.dat"), results);
    // Written again, the vectors classify.
    ui.clear();
    flow.press(kStepIntermediate);
    flow.press(kStepClassify);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(flow.flags().classified);

    // A loaded workspace whose vectors match classifies at once, before
    // any intermediate processing; one without a record as well.
    const std::string ws = dir.path("model");
    ui.trainingText = [&](TrainingTextModel& m) {
        m.setLoadChecked(true);
        m.chooseModelDirectory(ws);
        return !m.accept();
    };
    for (bool record : {true, false}) {
        if (!record) removeFile(ws + "/test.dat.source");
        flow.press(kStepTrainingText);
        flow.press(kStepRawText);
        flow.press(kStepMethod);
        ui.clear();
        flow.press(kStepClassify);
        EXPECT_TRUE(ui.messages.empty()) << record;
        EXPECT_TRUE(flow.flags().classified) << record;
    }
}

TEST_F(StepFlowTest, TestFoldersAreComparedWithTheCurrentTrainingCategories) {
    dir.write("other/A/x.seg", "apple:1\n");
    dir.write("other/C/y.seg", "goal:1\n");
    std::string refusal;
    ui.rawText = [&](RawTextModel& m) {
        m.toggleTest();
        m.inputFormat = InputFormat::Preprocessed;
        m.chooseRawCorpus(dir.path("other"));
        const auto message = m.accept();
        refusal = message ? message->text : std::string();
        return !message;
    };
    // Before preprocessing, the training corpus's folders count.
    flow.press(kStepTrainingText);
    flow.press(kStepRawText);
    EXPECT_NE(refusal.find("缺少的类别子目录：B"), std::string::npos) << refusal;
    EXPECT_FALSE(flow.flags().rawTextSet);
    // A new training corpus with the folders A and C: accepted, although
    // the controller still holds the categories of the run before.
    train();
    dir.write("train2/A/a.seg", "apple:1\n");
    dir.write("train2/C/c.seg", "goal:1\n");
    ui.trainingText = [this](TrainingTextModel& m) {
        m.inputFormat = InputFormat::Preprocessed;
        m.chooseTrainingCorpus(dir.path("train2"));
        return !m.accept();
    };
    flow.press(kStepTrainingText);
    flow.press(kStepRawText);
    EXPECT_TRUE(refusal.empty()) << refusal;
    EXPECT_TRUE(flow.flags().rawTextSet);
}

TEST(StepButtons, TooltipMarkupAndIds) {
    ASSERT_EQ(stepButtons().size(), 11u);
    int id = 1000;
    for (const auto& button : stepButtons()) EXPECT_EQ(button.id, id++);
    EXPECT_EQ(stepTooltip(*stepButton(kStepIndex)),
              "<b><ct=0x0000FF><al_c>特征索引</b><br><ct=0x00AA00><hr=100%></ct><br>遍历训练文档产生候选特征项");
    EXPECT_STREQ(stepButton(kStepIndex)->caption, "特征表示");
    EXPECT_EQ(stepButton(999), nullptr);
}

}  // namespace
}  // namespace kestrel
