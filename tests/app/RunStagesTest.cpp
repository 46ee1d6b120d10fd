// The stages of a run in order: what each driver gets back when a stage fails
// or its observer stops the run.
#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "app/RunStages.h"
#include "app/TextClassifier.h"
#include "common/FileSystem.h"

using namespace kestrel;
using kestrel::testing::TempDir;

TEST(RunStages, RunInOrderStopAtTheFailingStageAndNameIt) {
    TempDir dir;
    dir.write("train/A/1.seg", "ball:2\nteam:1\n");
    dir.write("train/A/2.seg", "goal:1\nteam:1\n");
    dir.write("train/B/1.seg", "bank:1\nrate:2\n");
    TrainingRun run;
    run.environment.workspace = dir.dir() + "model/";
    ASSERT_TRUE(makeDirectory(run.environment.workspace));
    run.corpus = dir.dir() + "train/";
    run.format = InputFormat::Preprocessed;
    run.categoryCount = 2;
    run.selection = {kIg, 3};
    run.classifier.k = 7;
    TextClassifier trainer;
    describeRun(trainer, run);
    std::vector<RunStage> seen;
    const StageObserver record = [&](RunStage stage, const Status&) {
        seen.push_back(stage);
        return true;
    };
    const auto all = {RunStage::Preprocess, RunStage::Index, RunStage::Select, RunStage::TrainingVectors,
                      RunStage::Parameters};
    ASSERT_TRUE(trainer.beginUpdate("train").ok());
    RunOutcome outcome = runStages(trainer, all, nullptr, record, &run);
    ASSERT_TRUE(outcome.ok()) << outcome.status.message();
    ASSERT_TRUE(trainer.commitUpdate().ok());
    trainer.endUpdates();
    EXPECT_EQ(seen, std::vector<RunStage>(all));
    EXPECT_EQ(trainer.newDimensionality, 3u);
    EXPECT_EQ(dir.read("model/params.dat"), "KNN # Classifier\n7 # Neighbor\n0 # Similarity\n");
    EXPECT_EQ(dir.read("model/fsinfo.dat").substr(0, 12), "IG # FSMode\n");

    // Without the training run there are no parameters to write.
    outcome = runStages(trainer, {RunStage::Parameters}, nullptr);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.stage, RunStage::Parameters);

    // An observer that says stop ends the run after its stage.
    seen.clear();
    outcome = runStages(trainer, {RunStage::Select, RunStage::TrainingVectors}, nullptr,
                        [&](RunStage stage, const Status& status) { return record(stage, status) && false; }, &run);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(seen, std::vector<RunStage>{RunStage::Select});

    // A corpus to classify that is not there fails at its preprocessing,
    // after the workspace loaded; nothing after it runs.
    const ClassificationRun test{run.environment, dir.dir() + "missing/", InputFormat::Preprocessed, true, nullptr};
    TextClassifier classifier;
    describeRun(classifier, test);
    seen.clear();
    outcome = runStages(classifier, {RunStage::Load, RunStage::PreprocessRaw, RunStage::CorpusVectors}, nullptr,
                        record);
    EXPECT_EQ(outcome.stage, RunStage::PreprocessRaw);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(seen, (std::vector<RunStage>{RunStage::Load, RunStage::PreprocessRaw}));
    EXPECT_STREQ(stageFailureCaption(outcome.stage), "原始文本预处理失败！");
    EXPECT_EQ(classifier.categoryCount, 2u);
}
