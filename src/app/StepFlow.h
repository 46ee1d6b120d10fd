#pragma once
// The step flow of the main window without the window: the eleven step
// buttons, the nine step flags, the prerequisites and refusals, and which
// dialog or controller operation each button runs. The window implements
// StepUi (dialogs, message boxes, progress, result windows) and forwards
// button presses to StepFlow::press.
#include <array>
#include <functional>
#include <string>

#include "app/DialogModels.h"

namespace kestrel {

class ProgressSink;
class TextClassifier;

enum StepButton : int {
    kStepTrainingText = 1000,
    kStepRawText = 1001,
    kStepPreprocess = 1002,
    kStepIntermediate = 1003,
    kStepIndex = 1004,
    kStepSelect = 1005,
    kStepMethod = 1006,
    kStepClassify = 1007,
    kStepResults = 1008,
    kStepEvaluate = 1009,
    kStepRepresentation = 1010,
};

struct StepButtonInfo {
    int id;
    const char* caption;
    const char* tipTitle;
    const char* tipDescription;  // "<br>" marks a line break
};

// The eleven buttons in id order.
const std::array<StepButtonInfo, 11>& stepButtons();
const StepButtonInfo* stepButton(int id);
// The tooltip markup of a button.
std::string stepTooltip(const StepButtonInfo& button);

struct StepFlags {
    bool trainingTextSet = false;
    bool preprocessed = false;
    bool indexed = false;
    bool featuresSelected = false;
    bool classifierLoaded = false;
    bool rawTextSet = false;
    bool rawProcessed = false;
    bool methodSet = false;
    bool classified = false;

    void clearAll() { *this = StepFlags{}; }
    bool operator==(const StepFlags&) const = default;
};

// How a step button looks to the person: done, the one to press next,
// possible, or not yet possible (its prerequisite is missing; pressing it
// shows why).
enum class StepState { kDone, kNext, kPossible, kBlocked };

// How a long step ended.
struct LongStepResult {
    bool ok = false;         // what the work returned
    bool cancelled = false;  // the person asked it to stop
    std::string error;       // an exception that escaped the work, if any
    double seconds = 0;      // how long the work ran, without the time a message box waited
};

// What the step flow needs from a user interface.
class StepUi {
public:
    virtual ~StepUi() = default;
    // Step dialogs: true when confirmed. The dialog applies model.accept()
    // itself and stays open while it refuses.
    virtual bool runTrainingTextDialog(TrainingTextModel& model) = 0;
    virtual bool runRawTextDialog(RawTextModel& model) = 0;
    virtual bool runFeatureSelectionDialog(FeatureSelectionModel& model) = 0;
    virtual bool runMethodDialog(MethodModel& model) = 0;
    // Runs `work` to completion (a window runs it off its own thread behind
    // a progress dialog that offers to cancel). `title` names the step.
    virtual LongStepResult runLongStep(const std::string& title,
                                       const std::function<bool(ProgressSink&)>& work) = 0;
    // A refusal or failure: message box with the exclamation icon.
    virtual void showWarning(const StepMessage& message) = 0;
    // Result windows.
    virtual void openResults(int vectorMode) = 0;  // labelled (1) or instance results
    virtual void openEvaluation() = 0;
    virtual void openTextRepresentation() = 0;
};

class StepFlow {
public:
    StepFlow(TextClassifier& classifier, StepUi& ui);

    // Runs the step of one button (ids 1000..1010); other ids do nothing.
    void press(int id);

    const StepFlags& flags() const { return flags_; }
    // The state of a step button under the present flags.
    StepState state(int id) const;
    // One line on the outcome of the last step that ran (UTF-8); empty
    // before any.
    const std::string& outcome() const { return outcome_; }
    TextClassifier& classifier() { return classifier_; }

private:
    void trainingText();
    void rawText();
    void preprocess();
    void intermediate();
    void index();
    void select();
    void method();
    void classify();
    void results();
    void evaluate();
    void representation();

    void refuse(const char* text);
    bool possible(int id) const;
    bool done(int id) const;
    // The outcome line of a step that ran, with the time it took.
    void setOutcome(std::string text, double seconds);
    // True when the vector file to classify was written under other
    // features or categories than the workspace holds now (read from the
    // workspace; staleVectors_ keeps the answer after each step).
    bool vectorsStale() const;
    // The vector mode of the corpus to classify: the raw corpus's once one
    // is set (a feature selection sets the controller to training vectors).
    int corpusVectorMode() const;
    // Shows the controller's warnings of a step that succeeded.
    void reportWarnings(const char* caption, const std::vector<std::string>& warnings);
    // The step's failure (when it did not succeed) and warnings as detail
    // text.
    std::string detailOf(const LongStepResult& result, const Status& failure,
                         const std::vector<std::string>& warnings) const;

    TextClassifier& classifier_;
    StepUi& ui_;
    StepFlags flags_;
    // The vector mode chosen for the raw corpus; the controller has one
    // field for every corpus, so the raw corpus's steps set it before running.
    int rawVectorMode_ = kExampleVectors;
    std::string outcome_;
    bool staleVectors_ = false;
};

}  // namespace kestrel
