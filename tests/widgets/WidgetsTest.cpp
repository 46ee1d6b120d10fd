#include <gtest/gtest.h>

#include <QChartView>
#include <QBarSeries>
#include <QBarSet>
#include <QPushButton>

#include "widgets/CButtonST.h"
#include "widgets/CGraphObject.h"
#include "widgets/CMsflexgrid.h"
#include "widgets/CPPToolTip.h"

namespace kestrel {
namespace {

TEST(Widgets, GridCells) {
    CMsflexgrid grid;
    grid.setRows(2);
    grid.setCols(3);
    grid.setTextMatrix(1, 2, "x");
    grid.setTextMatrix(5, 5, "ignored");
    EXPECT_EQ(grid.textMatrix(1, 2), "x");
    EXPECT_EQ(grid.textMatrix(5, 5), "");
    grid.setColWidth(1, 1500);
    EXPECT_EQ(grid.columnWidth(1), 100);
    grid.clearCells();
    EXPECT_EQ(grid.textMatrix(1, 2), "");
    EXPECT_EQ(grid.rows(), 2);
}

TEST(Widgets, GraphData) {
    CGraphObject graph;
    graph.setGraphTitle("t");
    const int s = graph.addSeries("r", Qt::red);
    graph.addSegment("A");
    const int b = graph.addSegment("B");
    graph.setValue(b, s, 42);
    graph.setValue(9, s, 1);  // ignored
    graph.refresh();
    EXPECT_EQ(graph.data().series[0].values, (QVector<int>{0, 42}));
    const QChart* chart = graph.chartView()->chart();
    EXPECT_EQ(chart->title(), "t");
    ASSERT_EQ(chart->series().size(), 1);
    const auto* bars = static_cast<const QBarSeries*>(chart->series().front());
    ASSERT_EQ(bars->count(), 1);
    EXPECT_EQ(bars->barSets().front()->at(1), 42);
    EXPECT_EQ(bars->barSets().front()->color(), QColor(Qt::red));
}

TEST(Widgets, TooltipAndButton) {
    CButtonST button("预处理");
    button.setImage(QIcon(CButtonST::makeImage("预", QColor(40, 120, 200))), QSize(32, 32));
    EXPECT_FALSE(button.icon().isNull());
    EXPECT_EQ(button.text(), "预处理");

    CPPToolTip tip;
    tip.addTool(&button, "<b>预处理</b><br>x");
    EXPECT_EQ(tip.markup(&button), "<b>预处理</b><br>x");
    EXPECT_TRUE(button.toolTip().contains("<b>预处理</b>"));
    tip.removeTool(&button);
    EXPECT_TRUE(button.toolTip().isEmpty());
    {
        QPushButton gone;
        tip.addTool(&gone, "y");
    }
    EXPECT_TRUE(tip.markup(nullptr).isEmpty());
}

}  // namespace
}  // namespace kestrel
