#include "widgets/C2DLineGraph.h"

#include <QBarCategoryAxis>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include "widgets/CGraphObject.h"

namespace kestrel {

QChart* C2DLineGraph::build(const GraphData& data) {
    auto* chart = new QChart;
    chart->setTitle(data.title);
    chart->legend()->setVisible(!data.series.isEmpty());
    chart->legend()->setAlignment(Qt::AlignBottom);

    auto* axisX = new QBarCategoryAxis;
    axisX->append(data.segments);
    auto* axisY = new QValueAxis;
    int top = 100;
    for (const GraphSeries& s : data.series)
        for (int v : s.values) top = std::max(top, v);
    // Room above the highest point for its value label.
    top = (top + 15 + 24) / 25 * 25;
    axisY->setRange(0, top);
    axisY->setTickCount(top / 25 + 1);
    axisY->setLabelFormat("%d");
    axisY->setTitleText(data.subtitle);
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);

    for (const GraphSeries& s : data.series) {
        auto* line = new QLineSeries;
        line->setName(s.name);
        QPen pen(s.colour);
        pen.setWidth(2);
        line->setPen(pen);
        line->setPointsVisible(true);
        line->setPointLabelsVisible(true);
        line->setPointLabelsFormat("@yPoint");
        line->setPointLabelsColor(s.colour.darker(130));
        // Points sit at the centres of the category axis's segments.
        for (int i = 0; i < s.values.size(); ++i) line->append(i, s.values[i]);
        chart->addSeries(line);
        line->attachAxis(axisX);
        line->attachAxis(axisY);
    }
    return chart;
}

}  // namespace kestrel
