#pragma once
// The three places where the windows hand control to the person: the folder
// browser, message boxes and modal dialogs. Each goes through a replaceable
// function so that tests and the screenshot mode can stand in for the person
// while every other control stays real.
#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace kestrel {

// Folder browser titled `title`, starting at `start`; empty when cancelled.
using DirectoryChooser = std::function<QString(QWidget* parent, const QString& title, const QString& start)>;
// Message box with an icon, caption, text and optional detail text.
using MessagePresenter = std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                            const QString& text, const QString& detail)>;
// Runs a modal dialog; returns its result code (QDialog::Accepted/Rejected).
using DialogRunner = std::function<int(QDialog& dialog)>;

QString chooseDirectory(QWidget* parent, const QString& title, const QString& start = {});
// A MessageDialog, unless a presenter stands in for the person.
void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                 const QString& detail = {});
int runDialog(QDialog& dialog);

// Passing an empty function restores the real behaviour.
void setDirectoryChooser(DirectoryChooser chooser);
void setMessagePresenter(MessagePresenter presenter);
void setDialogRunner(DialogRunner runner);

// File-system bytes <-> text shown in a window.
QString pathToDisplay(const std::string& path);
std::string pathFromDisplay(const QString& path);

}  // namespace kestrel
