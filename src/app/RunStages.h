#pragma once
// The stages of a run in the one order every driver uses: the command line,
// the experiment runner and the tests name the stages they want and get the
// stage that failed back, instead of repeating the sequence of calls.
#include <functional>
#include <initializer_list>

#include "common/Status.h"
#include "pipeline/RunDescription.h"

namespace kestrel {

class ProgressSink;
class TextClassifier;

enum class RunStage {
    Preprocess,   // training corpus: classes.txt and the .seg files
    Index,        // candidate terms
    Select,       // features.txt
    TrainingVectors,  // train.dat
    Parameters,   // params.dat and fsinfo.dat
    Load,         // the workspace's categories and features
    PreprocessRaw,  // the corpus to classify
    CorpusVectors,  // test.dat or example.dat
    Classify,     // assignments and decision values
    Results,      // result.dat
};

// The message a person is shown when the stage fails ("特征选择失败！"),
// before the reason; empty for the parameter files, whose reason says all.
const char* stageFailureCaption(RunStage stage);

// Called after every stage with its outcome; returning false stops the run
// after that stage (the driver then reports why itself).
using StageObserver = std::function<bool(RunStage, const Status&)>;

// What a run of stages came to: success, or the stage that failed (or was
// stopped by the observer) and why.
struct RunOutcome {
    Status status;
    RunStage stage = RunStage::Preprocess;
    bool stopped = false;  // the observer stopped it after `stage`
    bool ok() const { return status.ok() && !stopped; }
};

// The controller set up for a run: paths, formats, counts, selection.
void describeRun(TextClassifier& controller, const TrainingRun& run);
void describeRun(TextClassifier& controller, const ClassificationRun& run);

// Runs `stages` in order on a controller described by describeRun; the
// training run gives the parameters of the Parameters stage.
RunOutcome runStages(TextClassifier& controller, std::initializer_list<RunStage> stages, ProgressSink* sink,
                     const StageObserver& observer = {}, const TrainingRun* training = nullptr);

}  // namespace kestrel
