#include "app/ui/ScreenshotTour.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <deque>

#include "app/ui/CKestrelDlg.h"
#include "app/ui/ProgressRunner.h"
#include "app/ui/UiHooks.h"
#include "common/Progress.h"
#include "widgets/CButtonST.h"
#include "widgets/CPPToolTip.h"

namespace kestrel {

namespace {

void settle(int milliseconds = 150) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool copyTree(const QString& from, const QString& to) {
    QDir source(from);
    if (!source.exists()) return false;
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + "/" + source.relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target)) return false;
        } else if (!QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

class Tour {
public:
    Tour(const QString& outDir) : out_(outDir) {}

    void shoot(QWidget* widget, const QString& name) {
        settle();
        const QString file = QStringLiteral("%1/%2-%3.png").arg(out_).arg(++count_, 2, 10, QLatin1Char('0')).arg(name);
        if (!widget->grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ok_ = false;
        } else {
            std::printf("%s\n", qPrintable(file));
        }
    }

    template <typename T>
    static T* child(QWidget* parent, const QString& name) {
        return parent->findChild<T*>(name);
    }

    static void click(QWidget* parent, const QString& name) {
        if (auto* button = child<QAbstractButton>(parent, name)) button->click();
    }

    bool ok() const { return ok_; }
    int count() const { return count_; }

    std::deque<QString> folders;  // what the folder browser "chooses", in order
    int classifierChoice = 0;     // 0 KNN, 1 SVM for the next method dialog
    bool testCorpus = true;       // the next raw-text dialog's 测试 box

    int runDialog(QDialog& dialog) {
        dialog.show();
        const QString name = dialog.objectName();
        if (name == QLatin1String("CDlgTT")) {
            click(&dialog, "1027");
            click(&dialog, "1012");
            shoot(&dialog, "training-text");
            click(&dialog, "IDOK");
        } else if (name == QLatin1String("CDlgFT")) {
            if (testCorpus) click(&dialog, "1022");
            click(&dialog, "1027");
            click(&dialog, "1012");
            shoot(&dialog, testCorpus ? "raw-text-test" : "raw-text-example");
            click(&dialog, "IDOK");
        } else if (name == QLatin1String("CDlgFS")) {
            // Rough-set reduction, which reports its reduced feature count.
            click(&dialog, "1018");
            shoot(&dialog, "feature-selection");
            click(&dialog, "IDOK");
        } else if (name == QLatin1String("CDlgCM")) {
            click(&dialog, classifierChoice == 1 ? "1046" : "1045");
            if (classifierChoice == 1)
                if (auto* kernel = child<QComboBox>(&dialog, "1048")) kernel->setCurrentIndex(2);
            shoot(&dialog, classifierChoice == 1 ? "method-svm" : "method-knn");
            click(&dialog, "IDOK");
        } else {
            QString file = QString::fromLatin1(dialog.metaObject()->className());
            file = file.mid(file.lastIndexOf(QLatin1Char(':')) + 1);
            shoot(&dialog, file);
            // Show the evaluation window's lower part as well.
            for (auto* button : dialog.findChildren<QAbstractButton*>()) {
                if (button->text() == QStringLiteral("选项")) {
                    button->click();
                    shoot(&dialog, file + "-full");
                }
            }
            for (auto* button : dialog.findChildren<QRadioButton*>()) {
                if (button->text() == QStringLiteral("图形显示")) {
                    button->click();
                    shoot(&dialog, file + "-chart");
                }
            }
        }
        const int result = dialog.result();
        if (dialog.isVisible()) dialog.reject();
        return dialog.result() == QDialog::Accepted ? QDialog::Accepted : result;
    }

    void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                     const QString& detail) {
        QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
        if (!detail.isEmpty()) box.setDetailedText(detail);
        box.show();
        shoot(&box, QStringLiteral("message"));
        box.close();
        std::printf("  message: %s — %s\n", qPrintable(caption), qPrintable(text));
    }

private:
    QString out_;
    int count_ = 0;
    bool ok_ = true;
};

}  // namespace

int runScreenshotTour(const QString& outDir, const QString& sampleDir, const std::string& startupDirectory) {
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    QTemporaryDir work;
    const QString corpus = work.path() + "/sample";
    if (sampleDir.isEmpty() || !copyTree(sampleDir, corpus)) {
        std::fprintf(stderr, "cannot copy the sample corpus %s (give --corpus DIR with train/ test/ unlabelled/)\n",
                     qPrintable(sampleDir));
        return 1;
    }

    Tour tour(outDir);
    setDirectoryChooser([&](QWidget*, const QString&, const QString&) {
        if (tour.folders.empty()) return QString();
        QString folder = tour.folders.front();
        tour.folders.pop_front();
        return folder;
    });
    setDialogRunner([&](QDialog& dialog) { return tour.runDialog(dialog); });
    setMessagePresenter([&](QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                            const QString& detail) { tour.showMessage(parent, icon, caption, text, detail); });

    CKestrelDlg window;
    window.classifier().startupDirectory = startupDirectory;
    window.show();
    tour.shoot(&window, "main-window");

    // A tooltip as the markup renders it.
    {
        QLabel tip;
        tip.setWindowFlags(Qt::ToolTip);
        tip.setText(CPPToolTip::toHtml(window.tooltip()->markup(window.button(kStepPreprocess))));
        tip.setMargin(6);
        tip.setStyleSheet(QStringLiteral("background:#ffffe1; border:1px solid #777;"));
        tip.adjustSize();
        tip.show();
        tour.shoot(&tip, "tooltip-preprocess");
    }

    auto press = [&](int id) {
        window.button(id)->click();
        settle(50);
    };

    press(kStepPreprocess);  // refused: no training text yet
    tour.folders = {corpus + "/train"};
    press(kStepTrainingText);
    press(kStepPreprocess);
    press(kStepIndex);
    press(kStepSelect);
    tour.testCorpus = true;
    tour.folders = {corpus + "/test"};
    press(kStepRawText);
    press(kStepIntermediate);
    tour.classifierChoice = 0;
    press(kStepMethod);
    press(kStepClassify);
    press(kStepResults);
    press(kStepEvaluate);
    press(kStepRepresentation);
    // The same test corpus with an SVM, when this build has one.
    tour.classifierChoice = 1;
    press(kStepMethod);
    press(kStepClassify);
    press(kStepResults);

    tour.testCorpus = false;
    tour.folders = {corpus + "/unlabelled"};
    press(kStepRawText);
    press(kStepIntermediate);
    tour.classifierChoice = 0;
    press(kStepMethod);
    press(kStepClassify);
    press(kStepResults);

    window.showAbout();

    // The progress dialog of a long step, caught while it runs.
    QTimer::singleShot(900, &window, [&] {
        if (auto* progress = window.findChild<QProgressDialog*>("progress")) tour.shoot(progress, "progress");
    });
    runWithProgress(&window, QStringLiteral("预处理"), [](ProgressSink& sink) {
        for (int i = 0; i <= 20; ++i) {
            sink.progress("preprocess", static_cast<uint64_t>(i), 40);
            QThread::msleep(75);
        }
        return true;
    });

    setDirectoryChooser({});
    setDialogRunner({});
    setMessagePresenter({});
    std::printf("%d screenshots in %s\n", tour.count(), qPrintable(outDir));
    return tour.ok() ? 0 : 1;
}

}  // namespace kestrel
