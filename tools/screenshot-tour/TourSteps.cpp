#include "TourSteps.h"

#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>

#include "app/ui/CKestrelDlg.h"
#include "app/ui/ProgressRunner.h"
#include "common/Progress.h"
#include "widgets/CButtonST.h"
#include "widgets/CPPToolTip.h"
#include "Tour.h"

namespace kestrel {

namespace {

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

    // Steps refused before there is anything to work on; the training-text
    // dialog's own refusals (no model directory, no documents, a folder of
    // documents without category sub-folders); then a workspace that
    // cannot be loaded (its failure detail in Chinese).
    void refusedStarts() {
        press(kStepPreprocess);  // refused: no training text yet
        press(kStepMethod);      // refused: no workspace to write into yet

        const QString unlabelled = corpus_ + "/unlabelled";
        tour_.nextDialog = [this, unlabelled](QDialog& dialog) {
            Tour::click(&dialog, "1022");
            Tour::click(&dialog, "IDOK");  // refused: no model directory chosen
            Tour::click(&dialog, "1022");
            Tour::click(&dialog, "IDOK");  // refused: no documents counted
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

    // With the training text set, every later step asks for the one before
    // it.
    void refusedOutOfOrder() {
        for (int id : {kStepIndex, kStepRepresentation, kStepIntermediate, kStepClassify, kStepResults}) press(id);
    }

    // Training through feature selection.
    void train() {
        tour_.folders = {corpus_ + "/train"};
        press(kStepTrainingText);
        tour_.shoot(&window_, "main-window-training-text");
        refusedOutOfOrder();
        press(kStepPreprocess);
        press(kStepSelect);  // refused: no feature index yet
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
            Tour::click(&dialog, "IDOK");  // refused: no documents counted
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
        tour_.keep(corpus_ + "/model/分类评价.png", "evaluation-export");
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

}  // namespace

int runScreenshotTour(const QString& outDir, const QString& sampleDir, const std::string& startupDirectory) {
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    QTemporaryDir work;
    // Paths as long as users' often are: the boxes that name them must
    // still show them readably.
    const QString corpus = work.path() + QStringLiteral("/Kestrel 示例语料/训练与测试文档（按类别分目录存放）/sample");
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
    std::printf("%d screenshots (%d message boxes) in %s\n", tour.count(), tour.messageCount(), qPrintable(outDir));
    if (!tour.cutBoxes().isEmpty()) {
        std::fprintf(stderr, "%lld message boxes cut their text:\n", static_cast<long long>(tour.cutBoxes().size()));
        for (const QString& box : tour.cutBoxes()) std::fprintf(stderr, "  %s\n", qPrintable(box));
    }
    return tour.ok() ? 0 : 1;
}

}  // namespace kestrel
