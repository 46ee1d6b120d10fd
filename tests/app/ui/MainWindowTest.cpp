#include <QComboBox>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <fstream>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>

#include "UiTestSupport.h"
#include "app/ui/CAboutDlg.h"
#include "app/ui/CKestrelDlg.h"
#include "app/ui/ProgressRunner.h"
#include "app/ui/Translations.h"
#include "classify/SvmEngine.h"
#include "common/FileSystem.h"
#include "common/Progress.h"
#include "common/Version.h"
#include "evaluate/Evaluation.h"
#include "evaluate/ui/CDlgCE.h"
#include "evaluate/ui/CDlgTP.h"
#include "widgets/CButtonST.h"
#include "widgets/CPPToolTip.h"
#include "widgets/FailureText.h"

namespace kestrel {
namespace {

using testing::child;
using testing::click;
using testing::qpath;
using testing::TempDir;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        testing::copySampleCorpus(dir);
        window.show();
    }
    std::string sample(const std::string& sub) const { return dir.path("sample/" + sub); }
    void press(int id) { QTest::mouseClick(window.button(id), Qt::LeftButton); }

    // What each dialog does when it opens; result windows are looked at
    // by `onResult`.
    void driveDialogs() {
        hooks.onDialog = [this](QDialog& d) {
            const QString name = testing::UiHooks::dialogClass(d);
            if (name == "CDlgTT") {
                if (loadFrom.empty()) {
                    click(&d, "1027");
                    hooks.folders = {qpath(sample("train"))};
                    click(&d, "1012");
                } else {
                    click(&d, "1022");
                    hooks.folders = {qpath(loadFrom)};
                    click(&d, "1024");
                }
                click(&d, "IDOK");
            } else if (name == "CDlgFT") {
                if (rawTest) click(&d, "1022");
                click(&d, "1027");
                hooks.folders = {qpath(sample(rawTest ? "test" : "unlabelled"))};
                click(&d, "1012");
                click(&d, "IDOK");
            } else if (name == "CDlgFS") {
                click(&d, selectionRadio);
                auto* dimension = child<QLineEdit>(&d, "1081");
                dimension->clear();
                QTest::keyClicks(dimension, "200");
                click(&d, "IDOK");
            } else if (name == "CDlgCM") {
                click(&d, svm ? "1046" : "1045");
                if (!svm) {
                    auto* k = child<QSlider>(&d, "1041");
                    k->setValue(5);
                    EXPECT_EQ(child<QLabel>(&d, "1042")->text(), "5");
                }
                click(&d, "IDOK");
            } else if (onResult) {
                onResult(d);
            }
        };
    }

    // Training on the sample corpus with the buttons in pipeline order.
    void train() {
        for (int id : {kStepTrainingText, kStepPreprocess, kStepIndex, kStepSelect}) press(id);
        ASSERT_TRUE(hooks.messages.empty()) << hooks.lastText().toStdString();
    }
    void classify() {
        for (int id : {kStepRawText, kStepIntermediate, kStepMethod, kStepClassify}) press(id);
        ASSERT_TRUE(hooks.messages.empty()) << hooks.lastText().toStdString() << "\n"
                                            << hooks.messages.front().detail.toStdString();
    }

    TempDir dir;
    testing::UiHooks hooks;
    CKestrelDlg window;
    std::string loadFrom;
    bool rawTest = true;
    bool svm = false;
    const char* selectionRadio = "1016";
    std::function<void(QDialog&)> onResult;
};

TEST_F(MainWindowTest, LayoutCaptionsAndTooltips) {
    EXPECT_EQ(window.windowTitle(), "Larkspur");
    auto* training = child<QGroupBox>(&window, "training");
    auto* classification = child<QGroupBox>(&window, "classification");
    EXPECT_EQ(training->title(), "训练过程");
    EXPECT_EQ(classification->title(), "分类过程");
    for (const auto& info : stepButtons()) {
        CButtonST* button = window.button(info.id);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromUtf8(info.caption));
        EXPECT_FALSE(button->icon().isNull());
        EXPECT_EQ(window.tooltip()->markup(button), QString::fromStdString(stepTooltip(info)));
    }
    for (int id : {1000, 1002, 1004, 1005, 1006}) EXPECT_TRUE(training->isAncestorOf(window.button(id))) << id;
    for (int id : {1001, 1003, 1007}) EXPECT_TRUE(classification->isAncestorOf(window.button(id))) << id;
    // The result column: right of both boxes, 1010 above 1009 above 1008.
    const auto top = [&](int id) { return window.button(id)->mapTo(&window, QPoint(0, 0)); };
    EXPECT_GT(top(1010).x(), training->geometry().right());
    EXPECT_LT(top(1010).y(), top(1009).y());
    EXPECT_LT(top(1009).y(), top(1008).y());
    EXPECT_EQ(window.tooltip()->markup(window.button(1002)),
              "<b><ct=0x0000FF><al_c>预处理</b><br><ct=0x00AA00><hr=100%></ct><br>对训练文档进行分词、去除<br>"
              "停用词等或者进行文档拷贝");
}

TEST_F(MainWindowTest, EnterAndEscapeDoNotCloseAndAboutBoxShows) {
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_Return);
    QTest::keyClick(&window, Qt::Key_Enter);
    EXPECT_TRUE(window.isVisible());
    hooks.onDialog = [](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "关于 Kestrel");
        // The window's name and the version the programs print.
        EXPECT_EQ(child<QLabel>(&d, "version")->text(), QString("Larkspur %1 版").arg(QString::fromUtf8(kestrelVersion())));
    };
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_EQ(hooks.dialogs, std::vector<QString>{"CAboutDlg"});
}

// The menu entry is named as the window it opens, in every language.
TEST_F(MainWindowTest, DesktopEntryNamesTheWindow) {
    std::ifstream entry(KESTREL_SOURCE_DIR "/packaging/kestrel.desktop");
    ASSERT_TRUE(entry);
    int names = 0;
    for (std::string line; std::getline(entry, line);) {
        if (line.rfind("Name", 0) != 0 || line.find('=') == std::string::npos) continue;
        const std::string key = line.substr(0, line.find('='));
        if (key != "Name" && key.rfind("Name[", 0) != 0) continue;
        ++names;
        EXPECT_EQ(QString::fromStdString(line.substr(line.find('=') + 1)), window.windowTitle()) << line;
    }
    EXPECT_GE(names, 1);
}

// The rough-set count is shown in a box while the step goes on; the status
// line gives the reduct's size and the features kept, and the step's time
// leaves out the time the box waited to be read.
TEST_F(MainWindowTest, RoughSetStatusTimesTheWorkNotTheReading) {
    driveDialogs();
    selectionRadio = "1018";
    for (int id : {kStepTrainingText, kStepPreprocess, kStepIndex}) press(id);
    int notices = 0;
    setMessagePresenter([&](QWidget*, QMessageBox::Icon, const QString&, const QString& text, const QString&) {
        EXPECT_TRUE(text.startsWith("粗集约简后的特征项数：")) << text.toStdString();
        ++notices;
        QThread::msleep(2000);
    });
    QElapsedTimer clock;
    clock.start();
    press(kStepSelect);
    const double pressSeconds = clock.elapsed() / 1000.0;
    EXPECT_EQ(notices, 1);
    const QString status = window.findChild<QLabel*>("status")->text();
    const QRegularExpressionMatch m =
        QRegularExpression("粗集约简后(\\d+)个，保留(\\d+)个.*用时([0-9.]+)秒").match(status);
    ASSERT_TRUE(m.hasMatch()) << status.toStdString();
    EXPECT_EQ(m.captured(1).toUInt(), window.classifier().reductSize());
    EXPECT_EQ(m.captured(2).toULongLong(), window.classifier().featureTable().size());
    EXPECT_LE(m.captured(3).toDouble(), pressSeconds - 1.0) << status.toStdString();
}

TEST_F(MainWindowTest, RefusalsInOrderAsExclamationBoxes) {
    const std::pair<int, const char*> refusals[] = {
        {1002, "请先进行训练文本设置！"}, {1004, "请先进行预处理！"},     {1005, "请先进行特征索引！"},
        {1010, "请先进行特征选择！"},     {1003, "请先进行原始文本设置！"}, {1007, "请先进行分类方法设置！"},
        {1008, "请先进行文本分类！"},
    };
    for (const auto& [id, text] : refusals) press(id);
    ASSERT_EQ(hooks.messages.size(), std::size(refusals));
    for (size_t i = 0; i < std::size(refusals); ++i) {
        EXPECT_EQ(hooks.messages[i].icon, QMessageBox::Warning);
        EXPECT_EQ(hooks.messages[i].caption, "步骤");
        EXPECT_EQ(hooks.messages[i].text, refusals[i].second);
    }
    EXPECT_TRUE(hooks.dialogs.empty());
    EXPECT_EQ(window.flags(), StepFlags{});
}

TEST_F(MainWindowTest, KnnRunEvaluationExportLoadAndExampleCorpus) {
    driveDialogs();
    train();
    classify();
    EXPECT_TRUE(window.flags().classified);
    const std::string ws = sample("model/");
    EXPECT_NE(dir.read("sample/model/params.dat").find("5 # Neighbor"), std::string::npos);
    EXPECT_EQ(dir.read("sample/model/fsinfo.dat").substr(0, 12), "IG # FSMode\n");
    const TextClassifier& tc = window.classifier();
    ASSERT_FALSE(tc.rawDocuments().empty());

    bool evaluated = false;
    onResult = [&](QDialog& d) {
        auto* ce = qobject_cast<CDlgCE*>(&d);
        if (!ce) return;
        evaluated = true;
        const Evaluation core(tc.categories(), tc.rawDocuments(), tc.rawDocCount);
        EXPECT_EQ(ce->evaluation().confusion(), core.confusion());
        ASSERT_EQ(ce->evaluation().measures().size(), core.measures().size());
        for (size_t i = 0; i < core.measures().size(); ++i) {
            EXPECT_DOUBLE_EQ(ce->evaluation().measures()[i].recall, core.measures()[i].recall);
            EXPECT_DOUBLE_EQ(ce->evaluation().measures()[i].precision, core.measures()[i].precision);
        }
        QString report = QString::fromStdString(core.overallReport());
        report.replace("\r\n", "\n");
        EXPECT_EQ(ce->report()->toPlainText(), report);
        QString message;
        EXPECT_TRUE(ce->exportEvaluation(message)) << message.toStdString();
    };
    press(kStepResults);
    press(kStepEvaluate);
    press(kStepRepresentation);
    EXPECT_TRUE(evaluated);
    EXPECT_EQ(hooks.dialogs, (std::vector<QString>{"CDlgTT", "CDlgFS", "CDlgFT", "CDlgCM", "CDlgCR", "CDlgCE",
                                                   "CDlgTP"}));
    EXPECT_TRUE(fileExists(ws + "分类评价.xlsx"));

    // Load the workspace just written and classify the unlabelled corpus.
    hooks.dialogs.clear();
    loadFrom = sample("model");
    press(kStepTrainingText);
    ASSERT_TRUE(hooks.messages.empty()) << hooks.lastText().toStdString();
    EXPECT_TRUE(window.flags().classifierLoaded && window.flags().featuresSelected);
    press(kStepPreprocess);
    press(kStepIndex);
    rawTest = false;
    classify();
    press(kStepEvaluate);  // an example corpus: says why nothing opens
    press(kStepResults);
    EXPECT_EQ(hooks.dialogs, (std::vector<QString>{"CDlgTT", "CDlgFT", "CDlgCM", "CDlgCRE"}));
    ASSERT_EQ(hooks.messages.size(), 1u);
    EXPECT_EQ(hooks.messages[0].caption, "分类评测");
    EXPECT_NE(dir.read("sample/model/result.dat").find(" -1 "), std::string::npos);
}

TEST_F(MainWindowTest, ButtonsAndStatusLineShowWhereTheRunStands) {
    using Mark = CButtonST::Mark;
    const auto marks = [&] {
        std::string out;
        for (int id : {1000, 1002, 1004, 1005, 1006, 1001, 1003, 1007, 1008, 1009, 1010})
            out += "-dNb"[static_cast<int>(window.button(id)->mark())];
        return out;
    };
    auto* status = child<QLabel>(&window, "status");
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isVisible());
    EXPECT_EQ(marks(), "Nbbbb-bbbbb");
    EXPECT_TRUE(status->text().contains("训练文本")) << status->text().toStdString();
    // Below every button.
    EXPECT_GT(status->geometry().top(), window.button(kStepResults)->mapTo(&window, QPoint(0, 0)).y());

    driveDialogs();
    train();
    EXPECT_EQ(marks(), "ddddN-bbbb-");
    EXPECT_EQ(window.button(kStepTrainingText)->mark(), Mark::Done);
    EXPECT_TRUE(status->text().startsWith("特征选择（IG）完成：")) << status->text().toStdString();
    classify();
    EXPECT_EQ(marks(), "ddddddddN--");
    EXPECT_TRUE(status->text().contains("微平均正确率")) << status->text().toStdString();
    EXPECT_TRUE(status->text().contains("用时")) << status->text().toStdString();
    // A picture per state: the marks are drawn.
    const QImage done = window.button(kStepTrainingText)->grab().toImage();
    window.button(kStepTrainingText)->setMark(Mark::None);
    EXPECT_NE(window.button(kStepTrainingText)->grab().toImage(), done);

    // The evaluation of an unlabelled corpus says why nothing opens.
    rawTest = false;
    hooks.messages.clear();
    classify();
    press(kStepEvaluate);
    ASSERT_EQ(hooks.messages.size(), 1u);
    EXPECT_EQ(hooks.messages[0].caption, "分类评测");
    EXPECT_EQ(window.button(kStepEvaluate)->mark(), Mark::Blocked);
}

TEST_F(MainWindowTest, StaleVectorsAndMismatchedTestFoldersAreRefused) {
    driveDialogs();
    train();
    classify();
    // Another selection: the test vectors are stale until written again.
    hooks.onDialog = [this](QDialog& d) {
        if (testing::UiHooks::dialogClass(d) == "CDlgFS") {
            click(&d, "1015");
            click(&d, "IDOK");
        } else if (testing::UiHooks::dialogClass(d) == "CDlgCM") {
            click(&d, "IDOK");
        }
    };
    press(kStepSelect);
    press(kStepMethod);
    EXPECT_EQ(window.button(kStepIntermediate)->mark(), CButtonST::Mark::Next);
    hooks.messages.clear();
    press(kStepClassify);
    ASSERT_EQ(hooks.messages.size(), 1u);
    EXPECT_TRUE(hooks.messages[0].text.endsWith("请先进行中间处理！")) << hooks.lastText().toStdString();

    // A test corpus with a category folder the training lacks.
    dir.write("sample/other/X/x.seg", "x:1\n");
    hooks.messages.clear();
    bool refused = false;
    hooks.onDialog = [&](QDialog& d) {
        click(&d, "1022");
        click(&d, "1027");
        hooks.folders = {qpath(sample("other"))};
        click(&d, "1012");
        click(&d, "IDOK");
        refused = d.isVisible();
    };
    press(kStepRawText);
    EXPECT_TRUE(refused);
    ASSERT_EQ(hooks.messages.size(), 1u);
    EXPECT_TRUE(hooks.lastText().contains("训练文档中没有的子目录：X")) << hooks.lastText().toStdString();
    EXPECT_FALSE(window.flags().rawTextSet);
}

TEST(Translations, QtsOwnTextsAndCoreFailuresInChinese) {
    // Qt's own buttons and the folder browser.
    ASSERT_TRUE(installChineseTranslations(*QCoreApplication::instance()))
        << "Qt's Chinese translations (qt6-translations-l10n) are not installed";
    EXPECT_EQ(QCoreApplication::translate("QMessageBox", "Show Details..."), "显示详情...");
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), "Look in:");
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    for (auto* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }

    // The core's failures, worded for the window; paths kept.
    EXPECT_EQ(chineseFailureText("cannot read directory /c/交通/: No such file or directory\n"
                                 "cannot write /w/train.dat: No space left on device"),
              "无法读取目录 /c/交通/：没有那个文件或目录\n无法写入 /w/train.dat：设备上没有空间");
    EXPECT_EQ(chineseFailureText("cannot open /w/train.dat"), "无法打开 /w/train.dat");
    EXPECT_EQ(chineseFailureText("cannot write the model of category 3: cannot write /w/model3.mdl: Permission denied"),
              "无法写入类别3的模型：无法写入 /w/model3.mdl：权限不够");
    EXPECT_EQ(chineseFailureText("preprocessing cancelled"), "预处理已取消");
    EXPECT_EQ(chineseFailureText("the segmenter's data (coreDict.dct) was not found; directories tried: /a/ /b/"),
              "找不到分词器的数据（coreDict.dct），查找过的目录： /a/ /b/");
    EXPECT_EQ(chineseFailureText("something else"), "something else");
}

TEST_F(MainWindowTest, SvmRun) {
    if (!makeSvmEngine()) GTEST_SKIP() << "no SVM engine in this build";
    driveDialogs();
    svm = true;
    train();
    classify();
    EXPECT_TRUE(window.flags().classified);
    EXPECT_TRUE(fileExists(sample("model/model1.mdl")));
    EXPECT_EQ(dir.read("sample/model/params.dat").substr(0, 17), "SVM # Classifier\n");
    size_t assigned = 0;
    for (const auto& doc : window.classifier().rawDocuments()) assigned += doc.assignedCategory >= 0;
    EXPECT_EQ(assigned, window.classifier().rawDocuments().size());
}

TEST_F(MainWindowTest, LongStepsRunOffTheWindowThreadAndCanBeCancelled) {
    // A notice from the worker is shown as an information box.
    QThread* worker = nullptr;
    auto result = runWithProgress(&window, "特征选择", [&](ProgressSink& sink) {
        worker = QThread::currentThread();
        sink.notify("特征选择", "粗集约简后的特征项数：7");
        return true;
    });
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.cancelled);
    EXPECT_NE(worker, QThread::currentThread());
    ASSERT_EQ(hooks.messages.size(), 1u);
    EXPECT_EQ(hooks.messages[0].icon, QMessageBox::Information);
    EXPECT_EQ(hooks.messages[0].text, "粗集约简后的特征项数：7");

    // The progress dialog's cancel button stops a step that asks.
    QTimer::singleShot(500, &window, [&] {
        auto* progress = window.findChild<QProgressDialog*>("progress");
        ASSERT_NE(progress, nullptr);
        EXPECT_TRUE(progress->isVisible());
        auto* cancel = progress->findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        const QRect before = progress->geometry();
        QTest::mouseClick(cancel, Qt::LeftButton);
        // It stays where it was, saying it is stopping, until the step stops.
        EXPECT_TRUE(progress->isVisible());
        EXPECT_EQ(progress->geometry().topLeft(), before.topLeft());
        EXPECT_TRUE(progress->labelText().startsWith("正在取消")) << progress->labelText().toStdString();
    });
    result = runWithProgress(&window, "预处理", [](ProgressSink& sink) {
        for (int i = 0; i < 500 && !sink.cancelled(); ++i) {
            sink.progress("preprocess", static_cast<uint64_t>(i), 500);
            QThread::msleep(10);
        }
        return !sink.cancelled();
    });
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.ok);

    // An exception in the work is a failure with its message.
    result = runWithProgress(&window, "x", [](ProgressSink&) -> bool { throw std::runtime_error("boom"); });
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "boom");
}

}  // namespace
}  // namespace kestrel
