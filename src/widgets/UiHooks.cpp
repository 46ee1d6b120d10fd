#include "widgets/UiHooks.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>

#include "widgets/MessageDialog.h"

namespace kestrel {

namespace {

DirectoryChooser& directoryChooser() {
    static DirectoryChooser chooser;
    return chooser;
}

MessagePresenter& messagePresenter() {
    static MessagePresenter presenter;
    return presenter;
}

DialogRunner& dialogRunner() {
    static DialogRunner runner;
    return runner;
}

}  // namespace

QString chooseDirectory(QWidget* parent, const QString& title, const QString& start) {
    if (directoryChooser()) return directoryChooser()(parent, title, start);
    return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                 const QString& detail) {
    if (messagePresenter()) {
        messagePresenter()(parent, icon, caption, text, detail);
        return;
    }
    MessageDialog box(icon, caption, text, detail, parent);
    box.exec();
}

int runDialog(QDialog& dialog) {
    if (dialogRunner()) return dialogRunner()(dialog);
    return dialog.exec();
}

void setDirectoryChooser(DirectoryChooser chooser) { directoryChooser() = std::move(chooser); }
void setMessagePresenter(MessagePresenter presenter) { messagePresenter() = std::move(presenter); }
void setDialogRunner(DialogRunner runner) { dialogRunner() = std::move(runner); }

QString pathToDisplay(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

std::string pathFromDisplay(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace kestrel
