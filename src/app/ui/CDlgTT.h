#pragma once
// Training-text dialog: the training corpus, the workspace and the input
// format, or an existing classifier to load instead.
#include <QDialog>

#include "app/DialogModels.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

class CDlgTT : public QDialog {
    Q_OBJECT
public:
    // The dialog edits `model`, which starts with its defaults.
    explicit CDlgTT(TrainingTextModel& model, QWidget* parent = nullptr);

    void accept() override;

private:
    void browseTrainingCorpus();
    void browseWorkspace();
    void browseModelDirectory();
    void loadToggled(bool checked);
    void readControls();
    void refreshControls();

    TrainingTextModel& model_;
    QLineEdit* corpusEdit_;
    QLineEdit* workspaceEdit_;
    QLineEdit* modelEdit_;
    QPushButton* corpusButton_;
    QPushButton* workspaceButton_;
    QPushButton* modelButton_;
    QRadioButton* rawFormat_;
    QRadioButton* segFormat_;
    QLabel* status_;
    QCheckBox* load_;
};

}  // namespace kestrel
