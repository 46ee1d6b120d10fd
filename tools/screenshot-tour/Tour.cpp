#include "Tour.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>

#include "widgets/MessageDialog.h"
#include "widgets/UiHooks.h"

namespace kestrel {

void settle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

QString Tour::nextFile(const QString& name) {
    return QStringLiteral("%1/%2-%3.png").arg(out_).arg(++count_, 2, 10, QLatin1Char('0')).arg(name);
}

void Tour::shoot(QWidget* widget, const QString& name) {
    settle();
    const QString file = nextFile(name);
    if (!widget->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        ok_ = false;
    } else {
        std::printf("%s\n", qPrintable(file));
    }
}

void Tour::keep(const QString& source, const QString& name) {
    const QString file = nextFile(name);
    if (!QFile::copy(source, file)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
        ok_ = false;
    } else {
        std::printf("%s\n", qPrintable(file));
    }
}

void Tour::click(QWidget* parent, const QString& name) {
    if (auto* button = parent->findChild<QAbstractButton*>(name)) button->click();
}

int Tour::runDialog(QDialog& dialog) {
    dialog.show();
    const QString name = dialog.objectName();
    if (nextDialog) {
        const auto drive = std::move(nextDialog);
        nextDialog = nullptr;
        drive(dialog);
    } else if (QStringList{"CDlgTT", "CDlgFT", "CDlgFS", "CDlgCM"}.contains(name)) {
        driveStepDialog(dialog, name);
    } else {
        tourResultWindow(dialog);
    }
    const int result = dialog.result();
    if (dialog.isVisible()) dialog.reject();
    return dialog.result() == QDialog::Accepted ? QDialog::Accepted : result;
}

// The four step dialogs, answered as a person running the sample would.
void Tour::driveStepDialog(QDialog& dialog, const QString& name) {
    if (name == QLatin1String("CDlgTT")) {
        click(&dialog, "1027");
        click(&dialog, "1012");
        shoot(&dialog, "training-text");
    } else if (name == QLatin1String("CDlgFT")) {
        if (testCorpus) click(&dialog, "1022");
        click(&dialog, "1027");
        click(&dialog, "1012");
        shoot(&dialog, testCorpus ? "raw-text-test" : "raw-text-example");
    } else if (name == QLatin1String("CDlgFS")) {
        // Rough-set reduction first, which reports its reduced feature count.
        click(&dialog, selectionRadio);
        shoot(&dialog, "feature-selection");
    } else if (name == QLatin1String("CDlgCM")) {
        click(&dialog, classifierChoice == 1 ? "1046" : "1045");
        if (classifierChoice == 1)
            if (auto* kernel = dialog.findChild<QComboBox*>("1048")) kernel->setCurrentIndex(2);
        shoot(&dialog, classifierChoice == 1 ? "method-svm" : "method-knn");
    }
    click(&dialog, "IDOK");
}

void Tour::tourResultWindow(QDialog& dialog) {
    QString file = QString::fromLatin1(dialog.metaObject()->className());
    file = file.mid(file.lastIndexOf(QLatin1Char(':')) + 1);
    shoot(&dialog, file);
    const auto buttons = dialog.findChildren<QAbstractButton*>();
    // The evaluation window's lower part: the heat map, the chart and the
    // per-category scores.
    for (auto* button : buttons)
        if (button->text() == QStringLiteral("选项")) {
            button->click();
            shoot(&dialog, file + "-heat-map");
        }
    const std::pair<const char*, const char*> views[] = {{"图形显示", "-chart"}, {"各类别指标", "-scores"}};
    for (const auto& [radio, suffix] : views)
        for (auto* button : dialog.findChildren<QRadioButton*>())
            if (button->text() == QString::fromUtf8(radio)) {
                button->click();
                shoot(&dialog, file + suffix);
            }
    for (auto* button : buttons)
        if (button->text() == QStringLiteral("随机查看")) {
            button->click();
            shoot(&dialog, file + "-random");
        }
    // The export, which also saves the chart and heat map as a picture.
    for (auto* button : buttons)
        if (button->text() == QStringLiteral("保存")) button->click();
}

void Tour::showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                       const QString& detail) {
    MessageDialog box(icon, caption, text, detail, parent);
    box.show();
    // The details of a failure, opened.
    box.setDetailShown(true);
    ++messages_;
    shoot(&box, QStringLiteral("message"));
    QString problem;
    if (!box.showsWholeText(&problem)) {
        cutBoxes_ << caption + QStringLiteral(": ") + text + QStringLiteral(" — ") + problem;
        std::fprintf(stderr, "CUT TEXT in message box %d (%s): %s\n", count_, qPrintable(caption),
                     qPrintable(problem));
    }
    box.close();
    std::printf("  message: %s — %s\n", qPrintable(caption), qPrintable(text));
}

void driveDialogsBy(Tour& tour) {
    setDirectoryChooser([&](QWidget*, const QString&, const QString&) {
        if (tour.folders.empty()) return QString();
        QString folder = tour.folders.front();
        tour.folders.pop_front();
        return folder;
    });
    setDialogRunner([&](QDialog& dialog) { return tour.runDialog(dialog); });
    setMessagePresenter([&](QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                            const QString& detail) { tour.showMessage(parent, icon, caption, text, detail); });
}

void driveDialogsByUser() {
    setDirectoryChooser({});
    setDialogRunner({});
    setMessagePresenter({});
}

}  // namespace kestrel
