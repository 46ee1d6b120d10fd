#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "widgets/MessageDialog.h"
#include "widgets/PathField.h"
#include "widgets/TextFit.h"

namespace kestrel {
namespace {

const QString kStale = "原始文档的向量是按另一次特征选择或另一个训练文本写成的，请先进行中间处理！";

int lineHeight(const QLabel* label) { return label->fontMetrics().height(); }

TEST(MessageDialog, LongTextWrapsAndShowsWhole) {
    // Twice the stale-vector refusal: far wider than a box should be.
    MessageDialog box(QMessageBox::Warning, "步骤", kStale + kStale);
    box.show();
    QApplication::processEvents();
    ASSERT_EQ(box.textLabels().size(), 1);
    const QLabel* label = box.textLabels().front();
    QString problem;
    EXPECT_TRUE(box.showsWholeText(&problem)) << problem.toStdString();
    EXPECT_GE(label->height(), 2 * lineHeight(label));  // wrapped onto several lines
    EXPECT_LE(box.width(), 900);                         // at a readable measure
    EXPECT_EQ(box.windowTitle(), "步骤");
    EXPECT_EQ(box.findChild<QPushButton*>("IDOK")->text(), "确定");

    // A short text stays on one line; the box is still wide enough for a
    // long caption in the title bar.
    const QString caption = "一个相当长的标题，标题栏里也要完整显示";
    MessageDialog small(QMessageBox::Information, caption, "完成。");
    small.show();
    QApplication::processEvents();
    EXPECT_TRUE(small.showsWholeText());
    EXPECT_LT(small.textLabels().front()->height(), 2 * lineHeight(small.textLabels().front()));
    EXPECT_GT(small.width(), small.fontMetrics().horizontalAdvance(caption));
}

TEST(MessageDialog, LongPathsGetARowElidedInTheMiddleAndCopyWhole) {
    // Blanks and brackets in directory names are part of the path.
    const QString path = "/home/user/一个很长的目录名/训练与测试 文档（按类别分目录存放）/另一层目录/更深的一层目录/model/"
                         "分类评价.xlsx";
    const QString text = "评价结果已保存到 " + path + "\n图表已保存到 /tmp/a.png";
    MessageDialog box(QMessageBox::Information, "保存", text);
    box.show();
    QApplication::processEvents();
    ASSERT_EQ(box.pathFields().size(), 1);
    PathField* field = box.pathFields().front();
    EXPECT_EQ(field->text(), path);
    EXPECT_EQ(field->toolTip(), path);
    // Its start and its file name are shown, the middle left out.
    const QString shown = field->shownText();
    EXPECT_TRUE(shown.startsWith("/home/")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("分类评价.xlsx")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(field->width(), box.width());
    // The prose around it, the short path inline.
    ASSERT_EQ(box.textLabels().size(), 2);
    EXPECT_EQ(box.textLabels()[0]->text(), "评价结果已保存到");
    EXPECT_EQ(box.textLabels()[1]->text(), "图表已保存到 /tmp/a.png");
    EXPECT_TRUE(box.showsWholeText());

    // Clicked, the field holds the whole path selected; the box copies the
    // whole message.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    EXPECT_FALSE(field->hasFocus());
    QTest::mouseClick(field, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(field->selectedText(), path);
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().contains(path));
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("保存\n\n评价结果已保存到 "));
}

TEST(MessageDialog, DetailsOpenBelowAndGrowTheBox) {
    MessageDialog plain(QMessageBox::Warning, "步骤", "请先进行预处理！");
    EXPECT_EQ(plain.detailButton(), nullptr);

    MessageDialog box(QMessageBox::Warning, "预处理", "训练文本预处理失败！", "无法创建 /x/001.seg：权限不够\n第二行");
    box.show();
    QApplication::processEvents();
    ASSERT_NE(box.detailButton(), nullptr);
    EXPECT_FALSE(box.detailView()->isVisible());
    const int closedHeight = box.height();
    box.detailButton()->click();
    QApplication::processEvents();
    EXPECT_TRUE(box.detailView()->isVisible());
    EXPECT_EQ(box.detailView()->toPlainText(), "无法创建 /x/001.seg：权限不够\n第二行");
    EXPECT_GT(box.height(), closedHeight);
    EXPECT_EQ(box.detailButton()->text(), "隐藏详情...");
}

TEST(MessageDialog, SplitsOnlyPathsTooWideAndLeavesTheirPunctuation) {
    const QFontMetrics metrics(QApplication::font());
    const QString text = "cannot create /data/corpus/a/001.seg: Permission denied\n查全率/查准率";
    // Wide enough: one run, unchanged.
    auto runs = splitWidePaths(text, metrics, 10000);
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(runs[0].first, text);
    // Too narrow for the path: it goes to a run of its own, without the
    // colon after it; a slash inside a word is not a path.
    runs = splitWidePaths(text, metrics, 20);
    ASSERT_EQ(runs.size(), 3);
    EXPECT_EQ(runs[0], (QPair<QString, bool>{"cannot create", false}));
    EXPECT_EQ(runs[1], (QPair<QString, bool>{"/data/corpus/a/001.seg", true}));
    EXPECT_EQ(runs[2], (QPair<QString, bool>{": Permission denied\n查全率/查准率", false}));
    // Brackets inside a path belong to it; a closing one it did not open
    // does not.
    runs = splitWidePaths("见 /语料/文档（按类别）/a.seg（已跳过）。另见（/b/c.seg）", metrics, 20);
    ASSERT_EQ(runs.size(), 5);
    EXPECT_EQ(runs[1].first, "/语料/文档（按类别）/a.seg（已跳过）");
    EXPECT_EQ(runs[3].first, "/b/c.seg");
    EXPECT_EQ(runs[4].first, "）");
}

TEST(TextFit, FindsTextCutByTheLabel) {
    QLabel wrapped(kStale);
    wrapped.setWordWrap(true);
    wrapped.setFixedWidth(200);
    wrapped.setFixedHeight(wrapped.heightForWidth(200));
    EXPECT_TRUE(labelShowsWholeText(wrapped));
    // The fixed box of old: one line's height for a text of three lines.
    wrapped.setFixedHeight(wrapped.fontMetrics().height());
    QString problem;
    EXPECT_FALSE(labelShowsWholeText(wrapped, &problem));
    EXPECT_TRUE(problem.contains("lines")) << problem.toStdString();

    // A line that does not wrap and is wider than its label.
    QLabel single(kStale);
    single.setFixedSize(150, 40);
    EXPECT_FALSE(labelShowsWholeText(single, &problem));
    EXPECT_TRUE(problem.contains("wider")) << problem.toStdString();
    // A latin word cannot wrap: too long for the width, it is cut.
    QLabel word("Supercalifragilisticexpialidocious");
    word.setWordWrap(true);
    word.setFixedSize(60, 200);
    EXPECT_FALSE(labelShowsWholeText(word));
}

}  // namespace
}  // namespace kestrel
