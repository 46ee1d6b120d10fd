#pragma once
// Controls shared by the step dialogs. Every control carries its control id
// as object name ("1010"), OK and Cancel carry "IDOK" and "IDCANCEL".
#include <QString>

#include "app/DialogModels.h"

class QDialog;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QHBoxLayout;
class QRadioButton;
class QWidget;

namespace kestrel {

QLineEdit* makePathEdit(int id, QWidget* parent);       // read-only path edit
QPushButton* makeBrowseButton(int id, QWidget* parent); // "……"
QRadioButton* makeRadio(int id, const QString& text, QWidget* parent);
QLabel* makeStatusLine(int id, QWidget* parent);
// The input-format row: radios 1026 "生文本格式" and 1027 "预处理文本格式".
QHBoxLayout* makeFormatRow(QWidget* parent, QRadioButton*& raw, QRadioButton*& seg);
QLineEdit* makeEdit(int id, const QString& text, QWidget* parent);
// OK/Cancel buttons wired to the dialog's accept() and reject().
QDialogButtonBox* makeOkCancel(QDialog* dialog);

// Gives a dialog the height its contents need at its present width (a
// status line that grew or shrank by a line).
void fitHeight(QWidget* dialog);

// A refusal or failure of a step: message box with the exclamation icon.
void showStepMessage(QWidget* parent, const StepMessage& message);

}  // namespace kestrel
