#include "app/ui/CDlgFT.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <QDialogButtonBox>

#include "app/ui/DialogParts.h"
#include "widgets/UiHooks.h"

namespace kestrel {

CDlgFT::CDlgFT(RawTextModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(QStringLiteral("原始文本"));
    setObjectName(QStringLiteral("CDlgFT"));

    auto* box = new QGroupBox(QStringLiteral("原始文本设置"), this);
    auto* grid = new QGridLayout(box);
    corpusEdit_ = makePathEdit(1010, box);
    browseButton_ = makeBrowseButton(1012, box);
    grid->addWidget(new QLabel(QStringLiteral("原始文档目录："), box), 0, 0);
    grid->addWidget(corpusEdit_, 0, 1);
    grid->addWidget(browseButton_, 0, 2);
    test_ = new QCheckBox(QStringLiteral("测试"), box);
    test_->setObjectName(QStringLiteral("1022"));
    grid->addWidget(test_, 1, 0, 1, 3);
    grid->addLayout(makeFormatRow(box, rawFormat_, segFormat_), 2, 0, 1, 3);
    status_ = makeStatusLine(1076, box);
    grid->addWidget(status_, 3, 0, 1, 3);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addWidget(makeOkCancel(this));
    setMinimumWidth(480);

    connect(browseButton_, &QPushButton::clicked, this, &CDlgFT::browse);
    // The counts follow the check box and the format at once.
    connect(test_, &QCheckBox::clicked, this, [this] {
        readControls();
        model_.toggleTest();
        refreshControls();
    });
    for (QRadioButton* format : {rawFormat_, segFormat_})
        connect(format, &QRadioButton::clicked, this, [this] {
            readControls();
            model_.setInputFormat(model_.inputFormat);
            refreshControls();
        });
    test_->setChecked(model_.testChecked);
    refreshControls();
}

void CDlgFT::readControls() { model_.inputFormat = segFormat_->isChecked() ? InputFormat::Preprocessed : InputFormat::RawText; }

void CDlgFT::refreshControls() {
    corpusEdit_->setText(pathToDisplay(model_.rawCorpusPath));
    (model_.inputFormat == InputFormat::Preprocessed ? segFormat_ : rawFormat_)->setChecked(true);
    status_->setText(QString::fromStdString(model_.statusLine));
    fitHeight(this);
}

void CDlgFT::browse() {
    readControls();
    const QString folder = chooseDirectory(this, QStringLiteral("请选择一个目录："), corpusEdit_->text());
    if (folder.isEmpty()) return;
    model_.chooseRawCorpus(pathFromDisplay(folder));
    refreshControls();
}

void CDlgFT::accept() {
    readControls();
    if (const auto refusal = model_.accept()) {
        showStepMessage(this, *refusal);
        return;
    }
    QDialog::accept();
}

}  // namespace kestrel
