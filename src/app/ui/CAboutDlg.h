#pragma once
// The About box of the main window.
#include <QDialog>

namespace kestrel {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace kestrel
