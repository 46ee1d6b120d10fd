#pragma once
// Classification-method dialog: KNN with its similarity and k, or SVM with
// its kernel and parameters. OK writes params.dat and fsinfo.dat.
#include <QDialog>

#include "app/DialogModels.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSlider;

namespace kestrel {

class CDlgCM : public QDialog {
    Q_OBJECT
public:
    explicit CDlgCM(MethodModel& model, QWidget* parent = nullptr);

    void accept() override;

private:
    QGroupBox* buildClassifierBox();
    QGroupBox* buildKnnBox();
    QGroupBox* buildSvmBox();
    void kernelChanged(int kernelType);

    MethodModel& model_;
    QButtonGroup* similarity_;
    QButtonGroup* classifier_;
    QSlider* k_;
    QLabel* kLabel_;
    QCheckBox* biased_;
    QLineEdit* tolerance_;
    QComboBox* kernel_;
    QLineEdit* degree_;
    QLineEdit* gamma_;
    QLineEdit* coefS_;
    QLineEdit* coefC_;
};

}  // namespace kestrel
