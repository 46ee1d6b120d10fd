#include "app/ui/ScreenshotTour.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <functional>

#include "app/ui/CKestrelDlg.h"
#include "app/ui/ProgressRunner.h"
#include "common/Progress.h"
#include "widgets/CButtonST.h"
#include "widgets/CPPToolTip.h"
#include "widgets/UiHooks.h"

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

    // A picture some window wrote itself, copied in among the shots.
    void keep(const QString& source, const QString& name) {
        const QString file = QStringLiteral("%1/%2-%3.png").arg(out_).arg(++count_, 2, 10, QLatin1Char('0')).arg(name);
        if (!QFile::copy(source, file)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
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
    QString selectionRadio = QStringLiteral("1018");  // the next selection's method
    // Drives the next dialog instead of the usual answers, once.
    std::function<void(QDialog&)> nextDialog;

    int runDialog(QDialog& dialog) {
        dialog.show();
        const QString name = dialog.objectName();
        if (nextDialog) {
            const auto drive = std::move(nextDialog);
            nextDialog = nullptr;
            drive(dialog);
        } else if (name == QLatin1String("CDlgTT")) {
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
            // Rough-set reduction first, which reports its reduced feature
            // count.
            click(&dialog, selectionRadio);
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
            for (auto* button : dialog.findChildren<QAbstractButton*>()) {
                if (button->text() == QStringLiteral("随机查看")) {
                    button->click();
                    shoot(&dialog, file + "-random");
                }
            }
            // The export, which also saves the chart as a picture.
            for (auto* button : dialog.findChildren<QAbstractButton*>())
                if (button->text() == QStringLiteral("保存")) button->click();
        }
        const int result = dialog.result();
        if (dialog.isVisible()) dialog.reject();
        return dialog.result() == QDialog::Accepted ? QDialog::Accepted : result;
    }

    void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
                     const QString& detail) {
        QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
        setUpMessageBox(box, detail);
        box.show();
        // The details of a failure, opened.
        if (!detail.isEmpty())
            for (auto* button : box.findChildren<QAbstractButton*>())
                if (box.buttonRole(button) == QMessageBox::ActionRole) button->click();
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
    press(kStepMethod);      // refused: no workspace to write into yet

    // A folder of documents without category sub-folders, then a workspace
    // that cannot be loaded (its failure detail in Chinese).
    tour.nextDialog = [&](QDialog& dialog) {
        Tour::click(&dialog, "1027");
        tour.folders = {corpus + "/unlabelled"};
        Tour::click(&dialog, "1012");
        tour.shoot(&dialog, "training-text-no-categories");
        Tour::click(&dialog, "IDOK");  // refused with the reason
    };
    press(kStepTrainingText);
    QDir().mkpath(work.path() + "/empty-model");
    tour.nextDialog = [&](QDialog& dialog) {
        Tour::click(&dialog, "1022");
        tour.folders = {work.path() + "/empty-model"};
        Tour::click(&dialog, "1024");
        Tour::click(&dialog, "IDOK");
    };
    press(kStepTrainingText);

    tour.folders = {corpus + "/train"};
    press(kStepTrainingText);
    tour.shoot(&window, "main-window-training-text");
    press(kStepPreprocess);
    press(kStepIndex);
    press(kStepSelect);
    tour.shoot(&window, "main-window-features-selected");

    // A test corpus whose category folders differ from the training's.
    const QString mismatch = work.path() + "/mismatch";
    copyTree(corpus + "/test", mismatch);
    const QStringList categories = QDir(mismatch).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (!categories.isEmpty()) QDir(mismatch).rename(categories.front(), categories.front() + "-other");
    tour.nextDialog = [&](QDialog& dialog) {
        Tour::click(&dialog, "1027");
        tour.folders = {mismatch};
        Tour::click(&dialog, "1012");
        Tour::click(&dialog, "1022");  // counted again at once as a test corpus
        tour.shoot(&dialog, "raw-text-mismatch");
        Tour::click(&dialog, "IDOK");  // refused, naming the folders
        tour.folders = {corpus + "/test"};
        Tour::click(&dialog, "1012");
        Tour::click(&dialog, "IDOK");
    };
    press(kStepRawText);
    press(kStepIntermediate);
    tour.classifierChoice = 0;
    press(kStepMethod);
    press(kStepClassify);
    tour.shoot(&window, "main-window-classified");
    press(kStepResults);
    press(kStepEvaluate);
    press(kStepRepresentation);
    tour.keep(corpus + "/model/分类评价.png", "chart-export");

    // Another selection leaves the test vectors stale: classifying them is
    // refused until intermediate processing.
    tour.selectionRadio = QStringLiteral("1015");
    press(kStepSelect);
    press(kStepMethod);
    press(kStepClassify);
    tour.shoot(&window, "main-window-stale-vectors");
    press(kStepIntermediate);
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
    press(kStepEvaluate);  // says why nothing opens for an example corpus

    window.showAbout();

    // Qt's own folder browser, in Chinese.
    {
        QFileDialog browser(&window, QStringLiteral("请选择一个目录："), corpus);
        browser.setFileMode(QFileDialog::Directory);
        browser.setOption(QFileDialog::ShowDirsOnly);
        browser.setOption(QFileDialog::DontUseNativeDialog);
        browser.show();
        tour.shoot(&browser, "folder-browser");
    }

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
