#pragma once
// A stand-in for the main window: scripted dialog answers, recorded
// messages and windows, long steps run on the calling thread.
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/StepFlow.h"
#include "common/Progress.h"

namespace kestrel::testing {

class FakeUi : public StepUi {
public:
    // Each dialog answer edits the model; returning false cancels.
    std::function<bool(TrainingTextModel&)> trainingText;
    std::function<bool(RawTextModel&)> rawText;
    std::function<bool(FeatureSelectionModel&)> featureSelection = [](FeatureSelectionModel&) { return true; };
    std::function<bool(MethodModel&)> method = [](MethodModel& m) { return !m.accept(); };

    std::vector<StepMessage> messages;
    std::vector<std::string> windows;  // "results1", "results2", "evaluation", "representation"
    std::vector<std::string> longSteps;
    bool cancelNextStep = false;

    bool runTrainingTextDialog(TrainingTextModel& m) override { return trainingText && trainingText(m); }
    bool runRawTextDialog(RawTextModel& m) override { return rawText && rawText(m); }
    bool runFeatureSelectionDialog(FeatureSelectionModel& m) override { return featureSelection(m); }
    bool runMethodDialog(MethodModel& m) override { return method(m); }
    LongStepResult runLongStep(const std::string& title, const std::function<bool(ProgressSink&)>& work) override {
        struct Sink : ProgressSink {
            bool cancel = false;
            bool cancelled() const override { return cancel; }
        } sink;
        sink.cancel = cancelNextStep;
        cancelNextStep = false;
        longSteps.push_back(title);
        LongStepResult result;
        result.ok = work(sink);
        result.cancelled = sink.cancel;
        return result;
    }
    void showWarning(const StepMessage& message) override { messages.push_back(message); }
    void openResults(int vectorMode) override { windows.push_back("results" + std::to_string(vectorMode)); }
    void openEvaluation() override { windows.push_back("evaluation"); }
    void openTextRepresentation() override { windows.push_back("representation"); }

    void clear() {
        messages.clear();
        windows.clear();
        longSteps.clear();
    }
};

// A small preprocessed corpus: train/ and test/ with categories A and B,
// unlabelled/ with two documents.
inline void writeTinyCorpus(const TempDir& dir) {
    dir.write("train/A/a1.seg", "apple:2\nfruit:1\nred:1\n");
    dir.write("train/A/a2.seg", "apple:1\nfruit:2\njuice:1\n");
    dir.write("train/A/a3.seg", "fruit:1\npear:2\n");
    dir.write("train/B/b1.seg", "goal:2\nball:1\nteam:1\n");
    dir.write("train/B/b2.seg", "ball:2\nteam:2\n");
    dir.write("train/B/b3.seg", "goal:1\nmatch:1\nteam:1\n");
    dir.write("test/A/t1.seg", "apple:1\nfruit:1\n");
    dir.write("test/A/t2.seg", "pear:1\njuice:1\n");
    dir.write("test/B/t3.seg", "goal:1\nteam:1\n");
    dir.write("test/B/t4.seg", "ball:1\nmatch:1\n");
    dir.write("unlabelled/u1.seg", "apple:3\n");
    dir.write("unlabelled/u2.seg", "team:2\n");
}

}  // namespace kestrel::testing
