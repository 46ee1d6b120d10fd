// Trains a KNN workspace on a segmented corpus and classifies a labelled one
// with it: the example of the README's section for developers, built and run
// by the test suite so that it stays true.
#include <cstdio>

#include "app/Kestrel.h"

using namespace kestrel;

int main(int argc, char** argv) {
    if (argc != 4) return std::fprintf(stderr, "usage: %s TRAIN_DIR TEST_DIR WORKSPACE\n", argv[0]), 2;
    TrainingRun training;
    training.environment.workspace = withTrailingSlash(argv[3]);
    training.corpus = withTrailingSlash(argv[1]);
    training.format = InputFormat::Preprocessed;  // *.seg word lists
    training.categoryCount = countCategorisedCorpus(training.corpus, training.format).categories;
    training.selection = {kChi, 500};
    training.classifier.k = 10;
    makeDirectory(training.environment.workspace);
    TextClassifier trainer;
    describeRun(trainer, training);
    // The training changes the workspace as one update: all of it or nothing.
    if (const Status locked = trainer.beginUpdate("train"); !locked)
        return std::fprintf(stderr, "%s\n", locked.message().c_str()), 1;
    RunOutcome run = runStages(trainer,
                               {RunStage::Preprocess, RunStage::Index, RunStage::Select, RunStage::TrainingVectors,
                                RunStage::Parameters},
                               nullptr, {}, &training);
    if (run.ok()) run.status = trainer.commitUpdate();
    trainer.endUpdates();
    if (run.ok()) {
        ClassificationRun test{training.environment, withTrailingSlash(argv[2]), InputFormat::Preprocessed, true, nullptr};
        TextClassifier classifier;
        describeRun(classifier, test);
        run = runStages(classifier, {RunStage::Load, RunStage::PreprocessRaw, RunStage::CorpusVectors,
                                     RunStage::Classify, RunStage::Results}, nullptr);
        const Evaluation evaluation(classifier.categories(), classifier.rawDocuments(), classifier.rawDocCount);
        if (run.ok()) std::printf("micro recall %.2f%%\n", evaluation.microAverage().recall * 100);
    }
    if (!run.ok()) std::fprintf(stderr, "%s %s\n", stageFailureCaption(run.stage), run.status.message().c_str());
    return run.ok() ? 0 : 1;
}
