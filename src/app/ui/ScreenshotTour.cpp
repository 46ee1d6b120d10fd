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

// The walk through the main window: each group of steps shoots the windows
// and messages one situation shows.
class TourSteps {
public:
    TourSteps(Tour& tour, CKestrelDlg& window, const QString& corpus, const QString& work)
        : tour_(tour), window_(window), corpus_(corpus), work_(work) {}

    // A tooltip as the markup renders it.
    void tooltip() {
        QLabel tip;
        tip.setWindowFlags(Qt::ToolTip);
        tip.setText(CPPToolTip::toHtml(window_.tooltip()->markup(window_.button(kStepPreprocess))));
        tip.setMargin(6);
        tip.setStyleSheet(QStringLiteral("background:#ffffe1; border:1px solid #777;"));
        tip.adjustSize();
        tip.show();
        tour_.shoot(&tip, "tooltip-preprocess");
    }

    // Steps refused before there is anything to work on, a folder of
    // documents without category sub-folders, then a workspace that cannot
    // be loaded (its failure detail in Chinese).
    void refusedStarts() {
        press(kStepPreprocess);  // refused: no training text yet
        press(kStepMethod);      // refused: no workspace to write into yet

        const QString unlabelled = corpus_ + "/unlabelled";
        tour_.nextDialog = [this, unlabelled](QDialog& dialog) {
            Tour::click(&dialog, "1027");
            tour_.folders = {unlabelled};
            Tour::click(&dialog, "1012");
            tour_.shoot(&dialog, "training-text-no-categories");
            Tour::click(&dialog, "IDOK");  // refused with the reason
        };
        press(kStepTrainingText);
        const QString emptyModel = work_ + "/empty-model";
        QDir().mkpath(emptyModel);
        tour_.nextDialog = [this, emptyModel](QDialog& dialog) {
            Tour::click(&dialog, "1022");
            tour_.folders = {emptyModel};
            Tour::click(&dialog, "1024");
            Tour::click(&dialog, "IDOK");
        };
        press(kStepTrainingText);
    }

    // Training through feature selection.
    void train() {
        tour_.folders = {corpus_ + "/train"};
        press(kStepTrainingText);
        tour_.shoot(&window_, "main-window-training-text");
        press(kStepPreprocess);
        press(kStepIndex);
        press(kStepSelect);
        tour_.shoot(&window_, "main-window-features-selected");
    }

    // A test corpus whose category folders differ from the training's is
    // refused; the right one is then classified with KNN and evaluated.
    void classifyTestCorpus() {
        const QString mismatch = work_ + "/mismatch";
        copyTree(corpus_ + "/test", mismatch);
        const QStringList categories = QDir(mismatch).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        if (!categories.isEmpty()) QDir(mismatch).rename(categories.front(), categories.front() + "-other");
        const QString test = corpus_ + "/test";
        tour_.nextDialog = [this, mismatch, test](QDialog& dialog) {
            Tour::click(&dialog, "1027");
            tour_.folders = {mismatch};
            Tour::click(&dialog, "1012");
            Tour::click(&dialog, "1022");  // counted again at once as a test corpus
            tour_.shoot(&dialog, "raw-text-mismatch");
            Tour::click(&dialog, "IDOK");  // refused, naming the folders
            tour_.folders = {test};
            Tour::click(&dialog, "1012");
            Tour::click(&dialog, "IDOK");
        };
        press(kStepRawText);
        press(kStepIntermediate);
        tour_.classifierChoice = 0;
        press(kStepMethod);
        press(kStepClassify);
        tour_.shoot(&window_, "main-window-classified");
        press(kStepResults);
        press(kStepEvaluate);
        press(kStepRepresentation);
        tour_.keep(corpus_ + "/model/分类评价.png", "chart-export");
    }

    // Another selection leaves the test vectors stale: classifying them is
    // refused until intermediate processing. Then the same test corpus with
    // an SVM, when this build has one.
    void reselectAndSvm() {
        tour_.selectionRadio = QStringLiteral("1015");
        press(kStepSelect);
        press(kStepMethod);
        press(kStepClassify);
        tour_.shoot(&window_, "main-window-stale-vectors");
        press(kStepIntermediate);
        tour_.classifierChoice = 1;
        press(kStepMethod);
        press(kStepClassify);
        press(kStepResults);
    }

    // An example corpus without categories: classified, but not evaluated.
    void classifyExampleCorpus() {
        tour_.testCorpus = false;
        tour_.folders = {corpus_ + "/unlabelled"};
        press(kStepRawText);
        press(kStepIntermediate);
        tour_.classifierChoice = 0;
        press(kStepMethod);
        press(kStepClassify);
        press(kStepResults);
        press(kStepEvaluate);  // says why nothing opens for an example corpus
    }

    // Qt's own folder browser, in Chinese.
    void folderBrowser() {
        QFileDialog browser(&window_, QStringLiteral("请选择一个目录："), corpus_);
        browser.setFileMode(QFileDialog::Directory);
        browser.setOption(QFileDialog::ShowDirsOnly);
        browser.setOption(QFileDialog::DontUseNativeDialog);
        browser.show();
        tour_.shoot(&browser, "folder-browser");
    }

    // The progress dialog of a long step, caught while it runs.
    void progress() {
        QTimer::singleShot(900, &window_, [this] {
            if (auto* progress = window_.findChild<QProgressDialog*>("progress")) tour_.shoot(progress, "progress");
        });
        runWithProgress(&window_, QStringLiteral("预处理"), [](ProgressSink& sink) {
            for (int i = 0; i <= 20; ++i) {
                sink.progress("preprocess", static_cast<uint64_t>(i), 40);
                QThread::msleep(75);
            }
            return true;
        });
    }

private:
    void press(int id) {
        window_.button(id)->click();
        settle(50);
    }

    Tour& tour_;
    CKestrelDlg& window_;
    QString corpus_;
    QString work_;
};

// Folder choices, dialogs and messages go to the tour instead of the user.
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
    driveDialogsBy(tour);

    CKestrelDlg window;
    window.classifier().startupDirectory = startupDirectory;
    window.show();
    tour.shoot(&window, "main-window");

    TourSteps steps(tour, window, corpus, work.path());
    steps.tooltip();
    steps.refusedStarts();
    steps.train();
    steps.classifyTestCorpus();
    steps.reselectAndSvm();
    steps.classifyExampleCorpus();
    window.showAbout();
    steps.folderBrowser();
    steps.progress();

    driveDialogsByUser();
    std::printf("%d screenshots in %s\n", tour.count(), qPrintable(outDir));
    return tour.ok() ? 0 : 1;
}

}  // namespace kestrel
