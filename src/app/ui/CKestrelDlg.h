#pragma once
// The main window: eleven step buttons in the groups "训练过程" and "分类过程"
// and a column of result buttons. Each press goes to the step flow; the
// window supplies the dialogs, message boxes, progress and result windows.
#include <map>

#include "app/StepFlow.h"
#include "app/TextClassifier.h"
#include "widgets/CBkDialog.h"

class QKeyEvent;
class QLabel;

namespace kestrel {

class CButtonST;
class CPPToolTip;

class CKestrelDlg : public CBkDialog, private StepUi {
    Q_OBJECT
public:
    explicit CKestrelDlg(QWidget* parent = nullptr);
    ~CKestrelDlg() override;

    TextClassifier& classifier() { return classifier_; }
    const StepFlags& flags() const { return flow_.flags(); }
    CButtonST* button(int id) const;
    CPPToolTip* tooltip() const { return tooltip_; }
    // True while a long step runs; presses are ignored meanwhile.
    bool busy() const { return busy_; }

    void showAbout();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void press(int id);
    // Marks every step button by its state and shows the outcome of the
    // last step.
    void refreshState();

    // StepUi
    bool runTrainingTextDialog(TrainingTextModel& model) override;
    bool runRawTextDialog(RawTextModel& model) override;
    bool runFeatureSelectionDialog(FeatureSelectionModel& model) override;
    bool runMethodDialog(MethodModel& model) override;
    LongStepResult runLongStep(const std::string& title,
                               const std::function<bool(ProgressSink&)>& work) override;
    void showWarning(const StepMessage& message) override;
    void openResults(int vectorMode) override;
    void openEvaluation() override;
    void openTextRepresentation() override;

    CPPToolTip* tooltip_;
    std::map<int, CButtonST*> buttons_;
    QLabel* status_;
    TextClassifier classifier_;
    StepFlow flow_;
    bool busy_ = false;
};

}  // namespace kestrel
