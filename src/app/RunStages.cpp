#include "app/RunStages.h"

#include "app/TextClassifier.h"

namespace kestrel {

namespace {

void describeEnvironment(TextClassifier& controller, const RunEnvironment& environment) {
    controller.workspacePath = environment.workspace;
    controller.startupDirectory = environment.startupDirectory;
    controller.threads = environment.threads;
}

}  // namespace

void describeRun(TextClassifier& controller, const TrainingRun& run) {
    describeEnvironment(controller, run.environment);
    controller.trainingCorpusPath = run.corpus;
    controller.trainingFormat = run.format;
    controller.categoryCount = run.categoryCount;
    controller.selectionMode = run.selection.mode;
    controller.newDimensionality = run.selection.dimension;
    controller.trainingListing = run.listing;
}

void describeRun(TextClassifier& controller, const ClassificationRun& run) {
    describeEnvironment(controller, run.environment);
    controller.rawCorpusPath = run.corpus;
    controller.rawFormat = run.format;
    controller.vectorMode = run.labelled ? kTestVectors : kExampleVectors;
    controller.rawListing = run.listing;
}

const char* stageFailureCaption(RunStage stage) {
    switch (stage) {
    case RunStage::Preprocess: return "训练文本预处理失败！";
    case RunStage::Index: return "特征索引失败！";
    case RunStage::Select: return "特征选择失败！";
    case RunStage::TrainingVectors: return "训练文本向量写入失败！";
    case RunStage::Parameters: return "";
    case RunStage::Load: return "读取分类模型失败！";
    case RunStage::PreprocessRaw: return "原始文本预处理失败！";
    case RunStage::CorpusVectors: return "原始文本向量写入失败！";
    case RunStage::Classify: return "文本分类失败！";
    case RunStage::Results: return "分类结果写入失败！";
    }
    return "";
}

namespace {

Status runStage(TextClassifier& controller, RunStage stage, ProgressSink* sink, const TrainingRun* training) {
    switch (stage) {
    case RunStage::Preprocess: return controller.preprocessTraining(sink);
    case RunStage::Index: return controller.buildIndex(sink);
    case RunStage::Select:
        if (training) {
            controller.selectionMode = training->selection.mode;
            controller.newDimensionality = training->selection.dimension;
        }
        return controller.selectFeatures(sink);
    case RunStage::TrainingVectors:
        controller.vectorMode = kTrainingVectors;
        return controller.writeVectors(sink);
    case RunStage::CorpusVectors: return controller.writeVectors(sink);
    case RunStage::Parameters:
        if (!training) return Status::failure("no classifier parameters were given for params.dat");
        return writeClassifierSettings(controller.workDirectory(), training->classifier, controller.fsInfo());
    case RunStage::Load: return controller.loadClassifier();
    case RunStage::PreprocessRaw: return controller.preprocessRaw(sink);
    case RunStage::Classify: return controller.classify(sink);
    case RunStage::Results: return controller.writeResults();
    }
    return Status::failure("unknown stage");
}

}  // namespace

RunOutcome runStages(TextClassifier& controller, std::initializer_list<RunStage> stages, ProgressSink* sink,
                     const StageObserver& observer, const TrainingRun* training) {
    RunOutcome outcome;
    for (const RunStage stage : stages) {
        outcome.stage = stage;
        outcome.status = runStage(controller, stage, sink, training);
        const bool go = !observer || observer(stage, outcome.status);
        if (!outcome.status) return outcome;
        if (!go) {
            outcome.stopped = true;
            return outcome;
        }
    }
    return outcome;
}

}  // namespace kestrel
