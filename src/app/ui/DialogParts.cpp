#include "app/ui/DialogParts.h"

#include <QHBoxLayout>
#include <QLayout>
#include <algorithm>

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "common/Encoding.h"
#include "widgets/FailureText.h"
#include "widgets/UiHooks.h"

namespace kestrel {

QLineEdit* makePathEdit(int id, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::number(id));
    edit->setReadOnly(true);
    edit->setMinimumWidth(300);
    return edit;
}

QPushButton* makeBrowseButton(int id, QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("……"), parent);
    button->setObjectName(QString::number(id));
    button->setAutoDefault(false);
    button->setMaximumWidth(48);
    return button;
}

QRadioButton* makeRadio(int id, const QString& text, QWidget* parent) {
    auto* radio = new QRadioButton(text, parent);
    radio->setObjectName(QString::number(id));
    return radio;
}

QLabel* makeStatusLine(int id, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::number(id));
    label->setMinimumHeight(label->fontMetrics().height() + 4);
    // A second line may say why nothing was counted.
    label->setWordWrap(true);
    return label;
}

QLineEdit* makeEdit(int id, const QString& text, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::number(id));
    return edit;
}

QDialogButtonBox* makeOkCancel(QDialog* dialog) {
    auto* box = new QDialogButtonBox(dialog);
    auto* ok = box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    auto* cancel = box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    ok->setObjectName(QStringLiteral("IDOK"));
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    ok->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

void fitHeight(QWidget* dialog) {
    QLayout* layout = dialog->layout();
    if (!layout || !dialog->isVisible()) return;
    // Wrapped labels do not pass their height for the present width up
    // through the group boxes, so each claims it as its minimum.
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (!label->wordWrap() || !label->isVisible()) continue;
        const int oneLine = label->fontMetrics().height() + 4;
        label->setMinimumHeight(std::max(oneLine, label->heightForWidth(label->width())));
    }
    layout->activate();
    const int height = std::max(layout->totalMinimumSize().height(), layout->totalSizeHint().height());
    if (height != dialog->height()) dialog->resize(dialog->width(), height);
}

void showStepMessage(QWidget* parent, const StepMessage& message) {
    // Texts and details may name categories or words (GB18030) and paths
    // that are not UTF-8; they are shown converted, with bad bytes escaped.
    showMessage(parent, QMessageBox::Warning, QString::fromStdString(message.caption),
                QString::fromStdString(toUtf8(message.text)),
                chineseFailureText(QString::fromStdString(toUtf8(message.detail))));
}

QHBoxLayout* makeFormatRow(QWidget* parent, QRadioButton*& raw, QRadioButton*& seg) {
    raw = makeRadio(1026, QStringLiteral("生文本格式"), parent);
    seg = makeRadio(1027, QStringLiteral("预处理文本格式"), parent);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("文本格式："), parent));
    row->addWidget(raw);
    row->addWidget(seg);
    row->addStretch();
    return row;
}

}  // namespace kestrel
