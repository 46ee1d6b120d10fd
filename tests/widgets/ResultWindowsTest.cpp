#include <gtest/gtest.h>

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsItem>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QValueAxis>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>

#include "app/TextClassifier.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "evaluate/WorkbookReader.h"
#include "evaluate/ui/CDlgCE.h"
#include "evaluate/ui/CDlgCR.h"
#include "evaluate/ui/CDlgCRE.h"
#include "evaluate/ui/CDlgTP.h"
#include "widgets/C2DBarGraph.h"
#include "widgets/CGraphObject.h"
#include "widgets/CMsflexgrid.h"

namespace kestrel {
namespace {

class ResultWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-ui-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        // The worked example: 体育 (GBK) and B, four documents.
        data_.workspacePath = dir_;
        data_.categories = {{utf8ToGbk("体育"), 3}, {"B", 2}};
        data_.documents = {{0, 0, "a.txt"}, {0, 1, "b.txt"}, {1, 1, "c.txt"}, {1, 1, "d.txt"}};
        data_.vectorMode = kTestVectors;
        data_.rawDocCount = 4;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void write(const std::string& name, const std::string& text) {
        ASSERT_TRUE(writeFileAtomically(dir_ + name, text));
    }

    static QStringList row(const QTreeWidget* list, int r) {
        QStringList cells;
        const QTreeWidgetItem* item = list->topLevelItem(r);
        for (int c = 0; item && c < list->columnCount(); ++c) cells << item->text(c);
        return cells;
    }
    static QStringList headers(const QTreeWidget* list) {
        QStringList names;
        for (int c = 0; c < list->columnCount(); ++c) names << list->headerItem()->text(c);
        return names;
    }

    std::string dir_;
    ResultViewData data_;
};

TEST_F(ResultWindowsTest, TestResultsFollowTheTree) {
    CDlgCR dialog(data_);
    EXPECT_EQ(dialog.windowTitle(), "分类结果/测试");
    QTreeWidgetItem* root = dialog.tree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), "测试文档");
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(0)->text(0), "体育");
    EXPECT_EQ(root->child(1)->text(0), "B");

    const QTreeWidget* list = dialog.list();
    EXPECT_EQ(headers(list), (QStringList{"序号", "文件名", "应属类", "划分类"}));
    EXPECT_EQ(list->columnWidth(0), 45);
    EXPECT_EQ(list->columnWidth(3), 60);
    // Opens on category 0.
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(row(list, 0), (QStringList{"1", "a.txt", "体育", "体育"}));
    EXPECT_EQ(row(list, 1), (QStringList{"2", "b.txt", "体育", "B"}));
    // Right and wrong rows carry different icons.
    EXPECT_NE(list->topLevelItem(0)->icon(0).cacheKey(), list->topLevelItem(1)->icon(0).cacheKey());

    dialog.tree()->setCurrentItem(root->child(1));
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(row(list, 1), (QStringList{"2", "d.txt", "B", "B"}));
    // The root leaves the list as it was.
    dialog.tree()->setCurrentItem(root);
    EXPECT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(row(list, 0)[1], "c.txt");

    // A category without classified documents shows an empty list.
    data_.categories.push_back({"C", 0});
    CDlgCR withEmpty(data_);
    withEmpty.tree()->setCurrentItem(withEmpty.tree()->topLevelItem(0)->child(2));
    EXPECT_EQ(withEmpty.list()->topLevelItemCount(), 0);
}

TEST_F(ResultWindowsTest, ExampleResultsListEveryDocument) {
    data_.documents = {{-1, 1, "x.txt"}, {-1, 0, "y.txt"}, {-1, RawDocument::kUnassigned, "z.txt"}};
    CDlgCRE dialog(data_);
    EXPECT_EQ(dialog.windowTitle(), "分类结果/实例");
    EXPECT_EQ(headers(dialog.list()), (QStringList{"序号", "文件名", "划分类"}));
    EXPECT_EQ(dialog.list()->columnWidth(1), 100);
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 3);
    EXPECT_EQ(row(dialog.list(), 0), (QStringList{"1", "x.txt", "B"}));
    EXPECT_EQ(row(dialog.list(), 1), (QStringList{"2", "y.txt", "体育"}));
    EXPECT_EQ(row(dialog.list(), 2), (QStringList{"3", "z.txt", ""}));
}

TEST_F(ResultWindowsTest, EvaluationWindow) {
    CDlgCE dialog(data_);
    EXPECT_EQ(dialog.windowTitle(), "分类评测");

    // Counts grid: fixed headers, pooled record and overall report.
    const CMsflexgrid* counts = dialog.countGrid();
    EXPECT_EQ(counts->textMatrix(0, 1), "真正属于该类的文档数");
    EXPECT_EQ(counts->textMatrix(0, 2), "真正不属于该类的文档数");
    EXPECT_EQ(counts->textMatrix(1, 0), "判断为属于该类的文档数");
    EXPECT_EQ(counts->textMatrix(2, 0), "判断为不属于该类的文档数");
    EXPECT_GE(counts->columnWidth(0), CMsflexgrid::twipsToPixels(2200));  // widened when the font needs it
    const auto expectCounts = [&](const QString& title, QStringList abcd) {
        EXPECT_EQ(counts->textMatrix(0, 0), title);
        EXPECT_EQ((QStringList{counts->textMatrix(1, 1), counts->textMatrix(1, 2), counts->textMatrix(2, 1),
                               counts->textMatrix(2, 2)}),
                  abcd);
    };
    expectCounts("全局", {"3", "1", "1", "3"});
    EXPECT_TRUE(dialog.report()->toPlainText().startsWith("总测试文档数：4\n"));

    QTreeWidgetItem* root = dialog.tree()->topLevelItem(0);
    dialog.tree()->setCurrentItem(root->child(0));
    expectCounts("体育", {"1", "0", "1", "2"});
    EXPECT_TRUE(dialog.report()->toPlainText().startsWith("当前类别：体育\n"));
    dialog.tree()->setCurrentItem(root);
    expectCounts("全局", {"3", "1", "1", "3"});
    EXPECT_TRUE(dialog.report()->toPlainText().contains("宏平均查准率：83.33%"));

    // Confusion matrix grid.
    const CMsflexgrid* matrix = dialog.matrixGrid();
    ASSERT_EQ(matrix->rows(), 3);
    ASSERT_EQ(matrix->cols(), 3);
    EXPECT_EQ(matrix->textMatrix(0, 0), "");
    EXPECT_EQ(matrix->textMatrix(0, 1), "体育");
    EXPECT_EQ(matrix->textMatrix(2, 0), "B");
    EXPECT_EQ(matrix->textMatrix(1, 1), "1");
    EXPECT_EQ(matrix->textMatrix(1, 2), "1");
    EXPECT_EQ(matrix->textMatrix(2, 1), "0");
    EXPECT_EQ(matrix->textMatrix(2, 2), "2");

    // The matrix says which axis is which and shades each cell by its
    // share of the row: 体育 1 of 2 on the diagonal, B 2 of 2.
    const auto* caption = dialog.findChild<QLabel*>("matrixCaption");
    ASSERT_NE(caption, nullptr);
    EXPECT_TRUE(caption->text().contains("行：应属类") && caption->text().contains("列：划分类"));
    EXPECT_EQ(matrix->item(1, 1)->background().color(), heatColour(0.5));
    EXPECT_EQ(matrix->item(1, 2)->background().color(), heatColour(0.5));
    EXPECT_EQ(matrix->item(2, 1)->background().color(), QColor(Qt::white));
    EXPECT_EQ(matrix->item(2, 2)->background().color(), heatColour(1.0));
    EXPECT_EQ(matrix->item(2, 2)->foreground().color(), QColor(Qt::white));  // readable on the dark cell
    EXPECT_TRUE(matrix->item(1, 2)->toolTip().contains("应属类 体育，划分类 B：1篇，占50.00%"));

    // The per-category scores: recall, precision, F1 and documents, then
    // the averages; a category without documents has no scores.
    const CMsflexgrid* scores = dialog.scoreGrid();
    ASSERT_EQ(scores->rows(), 5);
    const auto scoreRow = [&](int r) {
        QStringList cells;
        for (int c = 0; c < scores->cols(); ++c) cells << scores->textMatrix(r, c);
        return cells;
    };
    EXPECT_EQ(scoreRow(0), (QStringList{"类别", "查全率", "查准率", "F1值", "文档数"}));
    EXPECT_EQ(scoreRow(1), (QStringList{"体育", "50.00%", "100.00%", "66.67%", "2"}));
    EXPECT_EQ(scoreRow(2), (QStringList{"B", "100.00%", "66.67%", "80.00%", "2"}));
    EXPECT_EQ(scoreRow(3), (QStringList{"宏平均", "75.00%", "83.33%", "78.95%", "4"}));
    EXPECT_EQ(scoreRow(4), (QStringList{"微平均", "75.00%", "75.00%", "75.00%", "4"}));
    {
        ResultViewData withEmpty = data_;
        withEmpty.categories.push_back({"C", 0});
        CDlgCE three(withEmpty);
        EXPECT_EQ(three.scoreGrid()->textMatrix(3, 0), "C");
        EXPECT_EQ(three.scoreGrid()->textMatrix(3, 1), "-");
        EXPECT_EQ(three.scoreGrid()->textMatrix(3, 4), "0");
    }

    // Chart: rows of the measures table, truncated percentages.
    const GraphData& chart = dialog.chart()->data();
    EXPECT_EQ(chart.title, "查全率/查准率");
    EXPECT_EQ(chart.subtitle, "单位：%");
    EXPECT_EQ(chart.segments, (QStringList{"体育", "B", "宏平均", "微平均"}));
    ASSERT_EQ(chart.series.size(), 2);
    EXPECT_EQ(chart.series[0].name, "查全率");
    EXPECT_EQ(chart.series[0].colour, QColor(Qt::red));
    EXPECT_EQ(chart.series[1].name, "查准率");
    EXPECT_EQ(chart.series[1].colour, QColor(Qt::yellow));
    EXPECT_EQ(chart.series[0].values, (QVector<int>{50, 100, 75, 75}));
    EXPECT_EQ(chart.series[1].values, (QVector<int>{100, 66, 83, 75}));

    // Opens short; 选项 toggles; the radios swap grid and chart.
    dialog.show();
    EXPECT_TRUE(dialog.isCompact());
    const int shortHeight = dialog.height();
    dialog.optionsButton()->click();
    EXPECT_FALSE(dialog.isCompact());
    EXPECT_GT(dialog.height(), shortHeight);
    EXPECT_TRUE(dialog.matrixRadio()->isChecked());
    EXPECT_TRUE(dialog.matrixGrid()->isVisible());
    EXPECT_FALSE(dialog.chart()->isVisible());
    // Each radio shows its view alone.
    const std::initializer_list<QWidget*> lowerViews = {dialog.matrixGrid(), dialog.chart(), dialog.scoreGrid()};
    const std::pair<QRadioButton*, QWidget*> views[] = {
        {dialog.chartRadio(), dialog.chart()},
        {dialog.scoresRadio(), dialog.scoreGrid()},
        {dialog.matrixRadio(), dialog.matrixGrid()}};
    for (const auto& [radio, shown] : views) {
        radio->click();
        for (QWidget* view : lowerViews) EXPECT_EQ(view->isVisible(), view == shown) << radio->text().toStdString();
    }
    dialog.optionsButton()->click();
    EXPECT_TRUE(dialog.isCompact());
    EXPECT_EQ(dialog.height(), shortHeight);

    // Saving: a failure says why, a success names the workbook.
    QString message;
    EXPECT_FALSE(dialog.exportEvaluation(message));
    EXPECT_TRUE(message.contains("fsinfo.dat")) << message.toStdString();
    write("fsinfo.dat", "CHI # FSMode\n10 # Old Dimensionality\n5 # New Dimensionality\n");
    write("params.dat", "KNN # Classifier\n20 # Neighbor\n0 # Similarity\n");
    EXPECT_TRUE(dialog.exportEvaluation(message)) << message.toStdString();
    EXPECT_TRUE(message.contains("分类评价.xlsx"));
    const Result<std::vector<WorkbookSheet>> sheets = readWorkbook(dir_ + "分类评价.xlsx");
    ASSERT_TRUE(sheets.ok()) << sheets.message();
    EXPECT_EQ(sheets->size(), 3u);
}

TEST_F(ResultWindowsTest, ChartReadableAtTheDefaultSizeAndSavedBesideTheWorkbook) {
    // Ten categories with long names, recall and precision close together.
    data_.categories.clear();
    data_.documents.clear();
    const char* names[] = {"交通214", "体育450", "军事249", "医药204", "政治505",
                           "教育220", "环境200", "经济325", "艺术248", "计算机200"};
    for (int c = 0; c < 10; ++c) {
        data_.categories.push_back({names[c], 20});
        for (int n = 0; n < 20; ++n) {
            // Every category loses one document or two to its neighbour.
            const int assigned = n < 1 + c % 2 ? (c + 1) % 10 : c;
            data_.documents.push_back({c, assigned, std::to_string(c * 100 + n) + ".txt"});
        }
    }
    data_.rawDocCount = static_cast<uint32_t>(data_.documents.size());
    CDlgCE dialog(data_);
    dialog.show();
    dialog.optionsButton()->click();
    dialog.chartRadio()->click();
    QApplication::processEvents();
    const QChart* chart = dialog.chart()->chartView()->chart();
    ASSERT_NE(chart, nullptr);

    // The names are turned rather than cut when they do not fit.
    const auto* axis = qobject_cast<const QBarCategoryAxis*>(chart->axes(Qt::Horizontal).front());
    ASSERT_NE(axis, nullptr);
    const qreal slot = chart->plotArea().width() / axis->count();
    if (QFontMetrics(axis->labelsFont()).horizontalAdvance("计算机200") + 8 > slot) {
        EXPECT_NE(axis->labelsAngle(), 0);
    }
    // No two values overlap.
    std::vector<QRectF> values;
    for (const QGraphicsItem* item : chart->childItems())
        if (item->data(0).toString() == "value") values.push_back(item->sceneBoundingRect());
    ASSERT_EQ(values.size(), 24u);
    for (size_t i = 0; i < values.size(); ++i)
        for (size_t j = i + 1; j < values.size(); ++j)
            EXPECT_FALSE(values[i].intersects(values[j])) << i << " " << j;
    // Bars, not a line through the categories, on a 0-100 axis; each value
    // within the plot.
    ASSERT_EQ(chart->series().size(), 1);
    const auto* bars = qobject_cast<const QBarSeries*>(chart->series().front());
    ASSERT_NE(bars, nullptr);
    ASSERT_EQ(bars->count(), 2);
    const auto* percent = qobject_cast<const QValueAxis*>(chart->axes(Qt::Vertical).front());
    ASSERT_NE(percent, nullptr);
    EXPECT_EQ(percent->min(), 0);
    EXPECT_EQ(percent->max(), 100);
    const QRectF plot = chart->mapToScene(chart->plotArea()).boundingRect();
    for (const QRectF& value : values) EXPECT_TRUE(plot.adjusted(-1, -1, 1, 1).contains(value)) << value.top();
    // Yellow is drawn dark enough to see on white; red stays red.
    const QColor drawn = bars->barSets().at(1)->color();
    EXPECT_NE(drawn, QColor(Qt::yellow));
    EXPECT_GT(drawn.red(), drawn.blue() + 100);  // still a yellow, not grey
    EXPECT_EQ(C2DBarGraph::readableColour(Qt::red), QColor(Qt::red));

    write("fsinfo.dat", "CHI # FSMode\n10 # Old Dimensionality\n5 # New Dimensionality\n");
    write("params.dat", "KNN # Classifier\n20 # Neighbor\n0 # Similarity\n");
    QString message;
    EXPECT_TRUE(dialog.exportEvaluation(message)) << message.toStdString();
    EXPECT_TRUE(message.contains("分类评价.png")) << message.toStdString();
    // The chart, and the shaded matrix below it: the diagonal cells hold 19
    // or 18 of their row's 20 documents.
    const QImage picture(QString::fromStdString(dir_ + "分类评价.png"));
    EXPECT_EQ(picture.width(), 1200);
    EXPECT_GT(picture.height(), 700 + 10 * 20);
    int diagonal = 0, offDiagonal = 0;
    for (int y = 700; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            diagonal += pixel == heatColour(0.95) || pixel == heatColour(0.9);
            offDiagonal += pixel == heatColour(0.05) || pixel == heatColour(0.1);
        }
    EXPECT_GT(diagonal, 10 * 40 * 20 / 2);
    EXPECT_GT(offDiagonal, 10 * 40 * 20 / 2);
    if (const char* keep = std::getenv("KESTREL_KEEP_CHART")) {
        dialog.grab().save(QString::fromUtf8(keep));
    }
}

TEST_F(ResultWindowsTest, EvaluationWithoutDocuments) {
    data_.documents.clear();
    data_.rawDocCount = 0;
    CDlgCE dialog(data_);
    EXPECT_EQ(dialog.countGrid()->textMatrix(1, 1), "0");
    EXPECT_FALSE(dialog.report()->toPlainText().contains("nan"));
    EXPECT_EQ(dialog.chart()->data().series[0].values, (QVector<int>{0, 0, 0, 0}));
}

TEST_F(ResultWindowsTest, TextRepresentation) {
    write("classes.txt", "0 " + utf8ToGbk("体育") + "\n\n1 B C\n");
    write("features.txt", "0 " + utf8ToGbk("比赛") + " 0.693147\n1 x 1.0\n");
    write("train.dat", "1 1:0.5 2:0.25\r\n2 2:1.000000\n");
    CDlgTP dialog(dir_);
    EXPECT_EQ(dialog.windowTitle(), "文本表示");
    EXPECT_EQ(headers(dialog.categoryList()), (QStringList{"ID", "类别"}));
    ASSERT_EQ(dialog.categoryList()->topLevelItemCount(), 2);
    EXPECT_EQ(row(dialog.categoryList(), 0), (QStringList{"0", "体育"}));
    EXPECT_EQ(row(dialog.categoryList(), 1), (QStringList{"1", "B C"}));
    EXPECT_EQ(headers(dialog.featureList()), (QStringList{"ID", "特征项"}));
    EXPECT_EQ(row(dialog.featureList(), 0), (QStringList{"0", "比赛"}));
    EXPECT_EQ(headers(dialog.documentList()), (QStringList{"特征ID", "特征权值"}));
    EXPECT_EQ(dialog.documentList()->columnWidth(1), 80);
    EXPECT_EQ(dialog.documentList()->topLevelItemCount(), 0);

    // The first line whose random number is 1 modulo 1000 is shown, with
    // its category and feature numbers as the 0-based ids of the lists.
    std::vector<uint32_t> draws = {1001, 7};
    size_t next = 0;
    ASSERT_TRUE(dialog.randomView([&] { return draws[next++]; }));
    EXPECT_EQ(dialog.categoryField()->text(), "0 体育");
    ASSERT_EQ(dialog.documentList()->topLevelItemCount(), 2);
    EXPECT_EQ(row(dialog.documentList(), 1), (QStringList{"1", "0.25"}));

    draws = {0, 2001};
    next = 0;
    ASSERT_TRUE(dialog.randomView([&] { return draws[next++]; }));
    EXPECT_EQ(dialog.categoryField()->text(), "1 B C");
    EXPECT_EQ(row(dialog.documentList(), 0), (QStringList{"1", "1.000000"}));

    // No line picked by that rule: one line is drawn evenly instead.
    draws = {0, 0, 3};
    next = 0;
    ASSERT_TRUE(dialog.randomView([&] { return draws[next++]; }));
    EXPECT_EQ(dialog.categoryField()->text(), "1 B C");  // 3 % 2 lines
    EXPECT_EQ(dialog.documentList()->topLevelItemCount(), 1);
    EXPECT_TRUE(dialog.status().isEmpty());
}

TEST_F(ResultWindowsTest, TextRepresentationWithMissingFiles) {
    {
        CDlgTP dialog(dir_);  // nothing in the workspace
        EXPECT_EQ(dialog.categoryList()->columnCount(), 2);
        EXPECT_EQ(dialog.featureList()->columnCount(), 0);
        EXPECT_EQ(dialog.documentList()->columnCount(), 0);
        EXPECT_TRUE(dialog.status().contains("classes.txt"));
        EXPECT_FALSE(dialog.randomView([] { return 1u; }));
    }
    write("classes.txt", "0 A\n");
    write("train.dat", "1 3:0.5\n");
    CDlgTP dialog(dir_);
    EXPECT_EQ(dialog.featureList()->columnCount(), 2);
    EXPECT_EQ(dialog.documentList()->columnCount(), 0);
    EXPECT_TRUE(dialog.status().contains("features.txt"));
    // train.dat is still read; the list without columns stays empty.
    EXPECT_TRUE(dialog.randomView([] { return 1u; }));
    EXPECT_EQ(dialog.categoryField()->text(), "0 A");
    EXPECT_EQ(dialog.documentList()->topLevelItemCount(), 0);
}

// The windows copy what they show from the controller.
TEST_F(ResultWindowsTest, WindowsFromTheController) {
    write("classes.txt", "0 A\n1 B\n");
    write("features.txt", "0 w 0.5\n");
    write("train.dat", "1 1:1.0\n");
    write("fsinfo.dat", "CHI # FSMode\n1 # Old Dimensionality\n1 # New Dimensionality\n");
    TextClassifier controller;
    controller.workspacePath = dir_;
    const Status loaded = controller.loadClassifier();
    ASSERT_TRUE(loaded) << loaded.message();
    controller.vectorMode = kTestVectors;

    CDlgCR results(controller);
    EXPECT_EQ(results.tree()->topLevelItem(0)->childCount(), 2);
    CDlgCE evaluation(controller);
    EXPECT_EQ(evaluation.matrixGrid()->textMatrix(0, 2), "B");
    CDlgTP representation(controller);
    EXPECT_EQ(representation.featureList()->topLevelItemCount(), 1);
    CDlgCRE examples(controller);
    EXPECT_EQ(examples.list()->topLevelItemCount(), 0);
}

}  // namespace
}  // namespace kestrel
