#include "app/ui/CAboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/StepIcons.h"
#include "common/Version.h"

namespace kestrel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("关于 Kestrel"));
    auto* icon = new QLabel(this);
    icon->setPixmap(applicationIcon(48));
    // The window's name with the version of this build, the one --version prints.
    auto* text = new QLabel(QStringLiteral("Larkspur %1 版").arg(QString::fromUtf8(kestrelVersion())), this);
    text->setObjectName(QStringLiteral("version"));
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setMinimumWidth(260);
}

}  // namespace kestrel
