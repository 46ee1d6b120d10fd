#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include "UiTestSupport.h"
#include "app/FlowTestSupport.h"
#include "app/ui/CDlgCM.h"
#include "app/ui/CDlgFS.h"
#include "app/ui/CDlgFT.h"
#include "app/ui/CDlgTT.h"
#include "common/FileSystem.h"

namespace kestrel {
namespace {

using testing::child;
using testing::click;
using testing::qpath;
using testing::TempDir;

class StepDialogsTest : public ::testing::Test {
protected:
    StepDialogsTest() { testing::writeTinyCorpus(dir); }
    TempDir dir;
    testing::UiHooks hooks;
};

TEST_F(StepDialogsTest, TrainingTextBrowsesCountsAndRefuses) {
    TrainingTextModel model;
    CDlgTT dialog(model);
    dialog.show();
    auto* corpus = child<QLineEdit>(&dialog, "1010");
    auto* workspace = child<QLineEdit>(&dialog, "1011");
    EXPECT_TRUE(corpus->isReadOnly() && workspace->isReadOnly() && child<QLineEdit>(&dialog, "1014")->isReadOnly());
    EXPECT_TRUE(child<QRadioButton>(&dialog, "1026")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(&dialog, "1022")->isChecked());
    EXPECT_FALSE(child<QWidget>(&dialog, "1024")->isEnabled());

    // OK before any folder, and a cancelled browser: no documents.
    click(&dialog, "1012");
    click(&dialog, "IDOK");
    ASSERT_EQ(hooks.messages.size(), 1u);
    EXPECT_EQ(hooks.messages[0].icon, QMessageBox::Warning);
    EXPECT_EQ(hooks.messages[0].caption, "训练");
    EXPECT_EQ(hooks.messages[0].text, "不存在训练文档！");
    EXPECT_TRUE(dialog.isVisible());

    click(&dialog, "1027");
    hooks.folders = {qpath(dir.path("train"))};
    click(&dialog, "1012");
    EXPECT_EQ(corpus->text(), qpath(dir.path("train/")));
    EXPECT_EQ(workspace->text(), qpath(dir.path("model/")));
    EXPECT_EQ(child<QLabel>(&dialog, "1076")->text(), "共2类训练文档,总共6篇");
    hooks.folders = {qpath(dir.path("ws"))};
    click(&dialog, "1013");
    EXPECT_EQ(workspace->text(), qpath(dir.path("ws/")));
    // A cancelled browse keeps what the status line says.
    click(&dialog, "1012");
    EXPECT_EQ(corpus->text(), qpath(dir.path("train/")));
    click(&dialog, "IDOK");
    EXPECT_EQ(hooks.messages.size(), 1u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(model.inputFormat, InputFormat::Preprocessed);
    EXPECT_EQ(model.docTotal, 6u);
    EXPECT_TRUE(isDirectory(dir.path("ws")));
}

TEST_F(StepDialogsTest, TrainingTextLoadCheckBoxSwitchesTheEdits) {
    TrainingTextModel model;
    CDlgTT dialog(model);
    dialog.show();
    click(&dialog, "1027");
    hooks.folders = {qpath(dir.path("train"))};
    click(&dialog, "1012");
    click(&dialog, "1022");
    EXPECT_TRUE(child<QLineEdit>(&dialog, "1010")->text().isEmpty());
    EXPECT_TRUE(child<QLineEdit>(&dialog, "1011")->text().isEmpty());
    EXPECT_FALSE(child<QWidget>(&dialog, "1012")->isEnabled());
    EXPECT_FALSE(child<QWidget>(&dialog, "1013")->isEnabled());
    EXPECT_TRUE(child<QWidget>(&dialog, "1024")->isEnabled());
    click(&dialog, "IDOK");
    EXPECT_EQ(hooks.lastText(), "未指定原始分类模型！");
    hooks.folders = {qpath(dir.path("model"))};
    click(&dialog, "1024");
    EXPECT_EQ(child<QLineEdit>(&dialog, "1014")->text(), qpath(dir.path("model/")));
    click(&dialog, "1022");
    EXPECT_TRUE(child<QLineEdit>(&dialog, "1014")->text().isEmpty());
    EXPECT_TRUE(child<QWidget>(&dialog, "1012")->isEnabled());
    EXPECT_FALSE(child<QWidget>(&dialog, "1024")->isEnabled());
    click(&dialog, "1022");
    click(&dialog, "IDOK");
    EXPECT_EQ(hooks.lastText(), "未指定原始分类模型！");
}

TEST_F(StepDialogsTest, RawTextCountsFollowTheTestBoxAndFormatAndRefuseOtherFolders) {
    RawTextModel model;
    model.trainingCategories = {"A", "B", "C"};
    CDlgFT dialog(model);
    dialog.show();
    click(&dialog, "1027");
    hooks.folders = {qpath(dir.path("test"))};
    click(&dialog, "1012");
    auto* status = child<QLabel>(&dialog, "1076");
    EXPECT_TRUE(status->text().startsWith("共0篇实例文档\n")) << status->text().toStdString();
    click(&dialog, "IDOK");
    EXPECT_TRUE(hooks.lastText().startsWith("不存在原始文档！")) << hooks.lastText().toStdString();
    EXPECT_EQ(hooks.messages.back().caption, "分类");
    // Ticking 测试 and changing the format count again at once.
    click(&dialog, "1022");
    EXPECT_EQ(status->text(), "共2类测试文档,总共4篇");
    click(&dialog, "1026");
    EXPECT_TRUE(status->text().startsWith("共2类测试文档,总共0篇\n")) << status->text().toStdString();
    click(&dialog, "1027");
    EXPECT_EQ(status->text(), "共2类测试文档,总共4篇");
    // The training has a category C the test corpus lacks.
    click(&dialog, "IDOK");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(hooks.lastText().indexOf("缺少的类别子目录：C"), -1) << hooks.lastText().toStdString();
    model.trainingCategories.pop_back();
    click(&dialog, "IDOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(model.vectorMode, kTestVectors);
    EXPECT_EQ(model.rawCorpusPath, dir.path("test/"));
}

TEST_F(StepDialogsTest, FeatureSelectionDefaultsAndDigitsOnly) {
    FeatureSelectionModel model;
    CDlgFS dialog(model);
    dialog.show();
    EXPECT_TRUE(child<QRadioButton>(&dialog, "1015")->isChecked());
    auto* dimension = child<QLineEdit>(&dialog, "1081");
    EXPECT_EQ(dimension->text(), "50");
    dimension->clear();
    QTest::keyClicks(dimension, "12a-3");
    EXPECT_EQ(dimension->text(), "123");
    click(&dialog, "1018");
    click(&dialog, "IDOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(model.mode, kRs);
    EXPECT_EQ(model.dimension, 123u);

    FeatureSelectionModel empty;
    CDlgFS second(empty);
    second.show();
    child<QLineEdit>(&second, "1081")->clear();
    click(&second, "IDOK");
    EXPECT_TRUE(second.isVisible());
    EXPECT_EQ(hooks.messages.size(), 1u);
}

TEST_F(StepDialogsTest, MethodDialogTrackBarKernelsAndFiles) {
    MethodModel model;
    model.workspacePath = dir.dir();
    model.fsInfo = FsInfo{kChi, 100, 50};
    CDlgCM dialog(model);
    dialog.show();
    auto* k = child<QSlider>(&dialog, "1041");
    auto* label = child<QLabel>(&dialog, "1042");
    EXPECT_EQ(k->minimum(), 1);
    EXPECT_EQ(k->maximum(), 100);
    EXPECT_EQ(label->text(), "20");
    QTest::keyClick(k, Qt::Key_Home);
    EXPECT_EQ(label->text(), "1");
    QTest::keyClick(k, Qt::Key_Left);
    EXPECT_EQ(label->text(), "1");
    QTest::keyClick(k, Qt::Key_End);
    EXPECT_EQ(label->text(), "100");
    QTest::keyClick(k, Qt::Key_Right);
    EXPECT_EQ(k->value(), 100);
    QTest::keyClick(k, Qt::Key_Left);
    EXPECT_EQ(label->text(), "99");

    auto* kernel = child<QComboBox>(&dialog, "1048");
    ASSERT_EQ(kernel->count(), 4);
    EXPECT_EQ(kernel->itemText(3), "3:S形核tanh(s(x*y)+c)");
    const char* edits[] = {"1013", "1014", "1015", "1016"};
    for (const char* e : edits) EXPECT_FALSE(child<QWidget>(&dialog, e)->isEnabled());
    kernel->setCurrentIndex(2);
    EXPECT_FALSE(child<QWidget>(&dialog, "1013")->isEnabled());
    EXPECT_TRUE(child<QWidget>(&dialog, "1014")->isEnabled());
    EXPECT_FALSE(child<QWidget>(&dialog, "1015")->isEnabled());
    EXPECT_FALSE(child<QWidget>(&dialog, "1016")->isEnabled());
    kernel->setCurrentIndex(1);
    EXPECT_TRUE(child<QWidget>(&dialog, "1013")->isEnabled());
    EXPECT_FALSE(child<QWidget>(&dialog, "1014")->isEnabled());

    click(&dialog, "1038");
    click(&dialog, "IDOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dir.read("params.dat"), "KNN # Classifier\n99 # Neighbor\n2 # Similarity\n");
    EXPECT_EQ(dir.read("fsinfo.dat"), "CHI # FSMode\n100 # Old Dimensionality\n50 # New Dimensionality\n");
}

TEST_F(StepDialogsTest, MethodDialogStaysOpenOnBadNumbersOrUnwritableWorkspace) {
    MethodModel model;
    model.workspacePath = dir.path("missing/");
    CDlgCM dialog(model);
    dialog.show();
    click(&dialog, "1046");
    auto* tolerance = child<QLineEdit>(&dialog, "1012");
    EXPECT_EQ(tolerance->text(), "0.001");
    tolerance->setText("abc");
    click(&dialog, "IDOK");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(hooks.lastText(), "容忍偏差：请输入一个数字。");
    tolerance->setText("0.01");
    click(&dialog, "IDOK");
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(hooks.messages.size(), 2u);
    EXPECT_FALSE(hooks.messages[1].detail.isEmpty());
    EXPECT_FALSE(fileExists(dir.path("missing/params.dat")));
}

}  // namespace
}  // namespace kestrel
