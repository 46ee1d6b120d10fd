#include "app/ui/CDlgFS.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <QDialogButtonBox>

#include "app/ui/DialogParts.h"

namespace kestrel {

CDlgFS::CDlgFS(FeatureSelectionModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(QStringLiteral("特征选择"));
    setObjectName(QStringLiteral("CDlgFS"));

    auto* methodBox = new QGroupBox(QStringLiteral("特征选择方法"), this);
    auto* methods = new QVBoxLayout(methodBox);
    modes_ = new QButtonGroup(this);
    const QString names[] = {QStringLiteral("卡方"), QStringLiteral("信息增益"), QStringLiteral("互信息"),
                             QStringLiteral("基于粗糙集")};
    for (int mode = 0; mode < 4; ++mode) {
        auto* radio = makeRadio(1015 + mode, names[mode], methodBox);
        modes_->addButton(radio, mode);
        methods->addWidget(radio);
    }
    if (auto* button = modes_->button(model_.mode)) button->setChecked(true);

    auto* dimensionRow = new QHBoxLayout;
    dimension_ = makeEdit(1081, QString::number(model_.dimension), this);
    // Digits only, and no more of them than a 32-bit count can hold.
    dimension_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")),
                                                             dimension_));
    dimensionRow->addWidget(new QLabel(QStringLiteral("特征维数："), this));
    dimensionRow->addWidget(dimension_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(methodBox);
    layout->addLayout(dimensionRow);
    layout->addWidget(makeOkCancel(this));
    setMinimumWidth(260);
}

void CDlgFS::accept() {
    if (const auto refusal = model_.setDimensionText(dimension_->text().toStdString())) {
        showStepMessage(this, *refusal);
        return;
    }
    model_.mode = modes_->checkedId() < 0 ? 0 : modes_->checkedId();
    QDialog::accept();
}

}  // namespace kestrel
