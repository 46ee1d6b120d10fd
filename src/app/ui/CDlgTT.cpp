#include "app/ui/CDlgTT.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/ui/DialogParts.h"
#include "widgets/UiHooks.h"

namespace kestrel {

CDlgTT::CDlgTT(TrainingTextModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(QStringLiteral("训练文本"));
    setObjectName(QStringLiteral("CDlgTT"));

    auto* corpusBox = new QGroupBox(QStringLiteral("训练文本设置"), this);
    auto* grid = new QGridLayout(corpusBox);
    corpusEdit_ = makePathEdit(1010, corpusBox);
    corpusButton_ = makeBrowseButton(1012, corpusBox);
    workspaceEdit_ = makePathEdit(1011, corpusBox);
    workspaceButton_ = makeBrowseButton(1013, corpusBox);
    grid->addWidget(new QLabel(QStringLiteral("训练文档目录："), corpusBox), 0, 0);
    grid->addWidget(corpusEdit_, 0, 1);
    grid->addWidget(corpusButton_, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("训练结果目录："), corpusBox), 1, 0);
    grid->addWidget(workspaceEdit_, 1, 1);
    grid->addWidget(workspaceButton_, 1, 2);
    grid->addLayout(makeFormatRow(corpusBox, rawFormat_, segFormat_), 2, 0, 1, 3);
    status_ = makeStatusLine(1076, corpusBox);
    grid->addWidget(status_, 3, 0, 1, 3);

    auto* loadBox = new QGroupBox(QStringLiteral("已有分类器"), this);
    auto* loadGrid = new QGridLayout(loadBox);
    load_ = new QCheckBox(QStringLiteral("读取已有分类器"), loadBox);
    load_->setObjectName(QStringLiteral("1022"));
    modelEdit_ = makePathEdit(1014, loadBox);
    modelButton_ = makeBrowseButton(1024, loadBox);
    loadGrid->addWidget(load_, 0, 0, 1, 3);
    loadGrid->addWidget(new QLabel(QStringLiteral("分类模型目录："), loadBox), 1, 0);
    loadGrid->addWidget(modelEdit_, 1, 1);
    loadGrid->addWidget(modelButton_, 1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(corpusBox);
    layout->addWidget(loadBox);
    layout->addWidget(makeOkCancel(this));
    setMinimumWidth(520);

    connect(corpusButton_, &QPushButton::clicked, this, &CDlgTT::browseTrainingCorpus);
    connect(workspaceButton_, &QPushButton::clicked, this, &CDlgTT::browseWorkspace);
    connect(modelButton_, &QPushButton::clicked, this, &CDlgTT::browseModelDirectory);
    connect(load_, &QCheckBox::clicked, this, &CDlgTT::loadToggled);
    // A chosen corpus is counted again in the format just picked.
    for (QRadioButton* format : {rawFormat_, segFormat_})
        connect(format, &QRadioButton::clicked, this, [this] {
            readControls();
            model_.setInputFormat(model_.inputFormat);
            refreshControls();
        });

    load_->setChecked(model_.loadChecked);
    corpusButton_->setEnabled(!model_.loadChecked);
    workspaceButton_->setEnabled(!model_.loadChecked);
    modelButton_->setEnabled(model_.loadChecked);
    refreshControls();
}

void CDlgTT::readControls() { model_.inputFormat = segFormat_->isChecked() ? InputFormat::Preprocessed : InputFormat::RawText; }

void CDlgTT::refreshControls() {
    corpusEdit_->setText(pathToDisplay(model_.trainingCorpusPath));
    workspaceEdit_->setText(pathToDisplay(model_.workspacePath));
    modelEdit_->setText(pathToDisplay(model_.modelDir));
    (model_.inputFormat == InputFormat::Preprocessed ? segFormat_ : rawFormat_)->setChecked(true);
    status_->setText(QString::fromStdString(model_.statusLine));
    fitHeight(this);
}

// A cancelled browser leaves the corpus, the workspace and the counts as
// they were, so the status line always describes the path shown.
void CDlgTT::browseTrainingCorpus() {
    readControls();
    const QString folder = chooseDirectory(this, QStringLiteral("请选择一个目录："), corpusEdit_->text());
    if (folder.isEmpty()) return;
    model_.chooseTrainingCorpus(pathFromDisplay(folder));
    refreshControls();
}

void CDlgTT::browseWorkspace() {
    readControls();
    const QString folder = chooseDirectory(this, QStringLiteral("请选择一个目录："), workspaceEdit_->text());
    if (folder.isEmpty()) return;
    model_.chooseWorkspace(pathFromDisplay(folder));
    refreshControls();
}

void CDlgTT::browseModelDirectory() {
    readControls();
    const QString folder = chooseDirectory(this, QStringLiteral("请选择一个目录："), modelEdit_->text());
    if (folder.isEmpty()) return;
    model_.chooseModelDirectory(pathFromDisplay(folder));
    refreshControls();
}

void CDlgTT::loadToggled(bool checked) {
    readControls();
    model_.setLoadChecked(checked);
    corpusButton_->setEnabled(!checked);
    workspaceButton_->setEnabled(!checked);
    modelButton_->setEnabled(checked);
    refreshControls();
}

void CDlgTT::accept() {
    readControls();
    if (const auto refusal = model_.accept()) {
        showStepMessage(this, *refusal);
        return;
    }
    QDialog::accept();
}

}  // namespace kestrel
