#pragma once
// Stand-ins for the person at the three hand-over points of the windows
// (folder browser, message boxes, modal dialogs) and small widget helpers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QTest>
#include <deque>
#include <filesystem>
#include <functional>
#include <vector>

#include "TestSupport.h"
#include "widgets/UiHooks.h"

namespace kestrel::testing {

struct ShownMessage {
    QMessageBox::Icon icon;
    QString caption;
    QString text;
    QString detail;
};

class UiHooks {
public:
    UiHooks() {
        setDirectoryChooser([this](QWidget*, const QString&, const QString&) {
            if (folders.empty()) return QString();
            QString folder = folders.front();
            folders.pop_front();
            return folder;
        });
        setMessagePresenter([this](QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text,
                                   const QString& detail) { messages.push_back({icon, caption, text, detail}); });
        setDialogRunner([this](QDialog& dialog) {
            dialog.show();
            dialogs.push_back(dialogClass(dialog));
            if (onDialog) onDialog(dialog);
            if (dialog.isVisible()) dialog.reject();
            return dialog.result();
        });
    }
    ~UiHooks() {
        setDirectoryChooser({});
        setMessagePresenter({});
        setDialogRunner({});
    }

    static QString dialogClass(const QDialog& dialog) {
        const QString name = QString::fromLatin1(dialog.metaObject()->className());
        return name.mid(name.lastIndexOf(QLatin1Char(':')) + 1);
    }
    QString lastText() const { return messages.empty() ? QString() : messages.back().text; }

    std::deque<QString> folders;
    std::vector<ShownMessage> messages;
    std::vector<QString> dialogs;
    std::function<void(QDialog&)> onDialog;
};

template <typename T>
T* child(QWidget* parent, const char* name) {
    T* widget = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// Clicks a button; check boxes and radio buttons on their indicator, since
// a stretched one is not clickable beyond its text.
inline void click(QWidget* parent, const char* name) {
    auto* button = child<QAbstractButton>(parent, name);
    if (!button) return;
    if (button->isCheckable() && (button->inherits("QCheckBox") || button->inherits("QRadioButton")))
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    else
        QTest::mouseClick(button, Qt::LeftButton);
}

inline QString qpath(const std::string& path) { return QString::fromStdString(path); }

// The sample corpus of preprocessed documents (train/, test/, unlabelled/)
// copied into `dir`; a tiny one when the repository has none.
inline void copySampleCorpus(const TempDir& dir) {
    const std::filesystem::path sample = std::filesystem::path(KESTREL_SOURCE_DIR) / "examples" / "sample-seg";
    if (std::filesystem::is_directory(sample / "train")) {
        std::filesystem::copy(sample, dir.path("sample"), std::filesystem::copy_options::recursive);
        return;
    }
    for (const char* cat : {"A", "B"})
        for (int i = 0; i < 3; ++i) {
            const std::string c = cat;
            dir.write("sample/train/" + c + "/" + std::to_string(i) + ".seg", c + "x:2\n" + c + "y:1\ncommon:1\n");
            dir.write("sample/test/" + c + "/" + std::to_string(i) + ".seg", c + "x:1\ncommon:1\n");
        }
    dir.write("sample/unlabelled/u.seg", "Ax:1\n");
}

}  // namespace kestrel::testing
