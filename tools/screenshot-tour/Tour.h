#pragma once
// The person of the screenshot tour: answers the folder browser, drives
// each dialog the walk opens, shows every message box as the program shows
// it, and saves a numbered PNG of each window into the output directory.
// Every message box is checked for text it cuts off.
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

class QDialog;
class QWidget;

namespace kestrel {

class Tour {
public:
    explicit Tour(const QString& outDir) : out_(outDir) {}

    // Saves a picture of the widget as "<number>-<name>.png".
    void shoot(QWidget* widget, const QString& name);
    // A picture some window wrote itself, copied in among the shots.
    void keep(const QString& source, const QString& name);

    static void click(QWidget* parent, const QString& name);

    // The stand-ins for the person (see driveDialogsBy).
    int runDialog(QDialog& dialog);
    void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                     const QString& detail);

    // True when every shot was saved and no message box cut its text.
    bool ok() const { return ok_ && cutBoxes_.isEmpty(); }
    int count() const { return count_; }
    int messageCount() const { return messages_; }
    // "caption: text" of each box that cut its text, with what was cut.
    const QStringList& cutBoxes() const { return cutBoxes_; }

    std::deque<QString> folders;  // what the folder browser "chooses", in order
    int classifierChoice = 0;     // 0 KNN, 1 SVM for the next method dialog
    bool testCorpus = true;       // the next raw-text dialog's 测试 box
    QString selectionRadio = QStringLiteral("1018");  // the next selection's method
    // Drives the next dialog instead of the usual answers, once.
    std::function<void(QDialog&)> nextDialog;

private:
    void driveStepDialog(QDialog& dialog, const QString& name);
    // A result window: each of its views, and the export where it has one.
    void tourResultWindow(QDialog& dialog);
    QString nextFile(const QString& name);

    QString out_;
    int count_ = 0;
    int messages_ = 0;
    bool ok_ = true;
    QStringList cutBoxes_;
};

// Folder choices, dialogs and messages go to the tour instead of the user,
// until driveDialogsByUser.
void driveDialogsBy(Tour& tour);
void driveDialogsByUser();

// Lets queued events and timers run for a moment.
void settle(int milliseconds = 150);

}  // namespace kestrel
