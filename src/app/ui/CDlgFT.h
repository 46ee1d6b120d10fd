#pragma once
// Raw-text dialog: the corpus to classify, its input format, and whether it
// is a labelled test corpus or an example corpus.
#include <QDialog>

#include "app/DialogModels.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

class CDlgFT : public QDialog {
    Q_OBJECT
public:
    explicit CDlgFT(RawTextModel& model, QWidget* parent = nullptr);

    void accept() override;

private:
    void browse();
    void readControls();
    void refreshControls();

    RawTextModel& model_;
    QLineEdit* corpusEdit_;
    QPushButton* browseButton_;
    QCheckBox* test_;
    QRadioButton* rawFormat_;
    QRadioButton* segFormat_;
    QLabel* status_;
};

}  // namespace kestrel
