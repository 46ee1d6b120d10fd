#include "widgets/C2DLineGraph.h"

#include <QBarCategoryAxis>
#include <QFontMetrics>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#include <cmath>
#include <memory>

#include "widgets/CGraphObject.h"

namespace kestrel {

namespace {

double channel(int value) {
    const double c = value / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// Contrast ratio of a colour against white.
double contrastOnWhite(const QColor& c) {
    const double luminance = 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    return 1.05 / (luminance + 0.05);
}

// A value written at a point of one series.
struct ValueLabel {
    QGraphicsSimpleTextItem* item;
    QLineSeries* line;
    int series;
    int segment;
};

// The value axis: 0 to a multiple of 25 that is at least 100 and leaves room
// above the highest point for its value label.
QValueAxis* valueAxis(const GraphData& data) {
    auto* axisY = new QValueAxis;
    int top = 100;
    for (const GraphSeries& s : data.series)
        for (int v : s.values) top = std::max(top, v);
    top = (top + 15 + 24) / 25 * 25;
    axisY->setRange(0, top);
    axisY->setTickCount(top / 25 + 1);
    axisY->setLabelFormat("%d");
    axisY->setTitleText(data.subtitle);
    return axisY;
}

// One series as a line in its readable colour, with a label for each value.
void addSeries(QChart* chart, QBarCategoryAxis* axisX, QValueAxis* axisY, const GraphSeries& s, int index,
               const QFont& labelFont, std::vector<ValueLabel>& labels) {
    auto* line = new QLineSeries;
    line->setName(s.name);
    const QColor colour = C2DLineGraph::readableColour(s.colour);
    QPen pen(colour);
    pen.setWidth(2);
    line->setPen(pen);
    line->setPointsVisible(true);
    // Points sit at the centres of the category axis's segments.
    for (int i = 0; i < s.values.size(); ++i) line->append(i, s.values[i]);
    chart->addSeries(line);
    line->attachAxis(axisX);
    line->attachAxis(axisY);
    for (int i = 0; i < s.values.size(); ++i) {
        auto* item = new QGraphicsSimpleTextItem(QString::number(s.values[i]), chart);
        item->setFont(labelFont);
        item->setBrush(colour.darker(120));
        item->setZValue(10);
        item->setData(0, QStringLiteral("value"));
        labels.push_back({item, line, index, i});
    }
}

// Names that do not fit side by side in the plot are turned.
void turnSegmentNames(QBarCategoryAxis* axisX, const QStringList& segments, const QRectF& plot) {
    const QFontMetrics names(axisX->labelsFont());
    int widest = 0;
    for (const QString& name : segments) widest = std::max(widest, names.horizontalAdvance(name));
    const qreal slot = plot.width() / std::max<qsizetype>(1, segments.size());
    const int angle = widest + 8 > slot ? (names.height() * 1.5 > slot ? -90 : -45) : 0;
    if (axisX->labelsAngle() != angle) axisX->setLabelsAngle(angle);
}

// Puts a value label by its point. Compared with the other series at this
// segment, the larger value goes above, the smaller below, equal ones side
// by side.
void placeValueLabel(QChart* chart, const QRectF& plot, const ValueLabel& label, const QList<GraphSeries>& series) {
    const int value = series[label.series].values[label.segment];
    const QRectF box = label.item->boundingRect();
    const QPointF at = chart->mapToPosition(QPointF(label.segment, value), label.line);
    int above = 0, equal = 0, rank = 0;
    for (int other = 0; other < series.size(); ++other) {
        if (other == label.series) continue;
        const int v = series[other].values[label.segment];
        if (v > value) ++above;
        else if (v == value) {
            ++equal;
            if (other < label.series) ++rank;
        }
    }
    QPointF corner(at.x() - box.width() / 2, at.y() - box.height() - 3);
    if (above > 0 && at.y() + 3 + box.height() <= plot.bottom()) corner.setY(at.y() + 3);
    if (equal > 0) corner.setX(rank == 0 ? at.x() - box.width() - 3 : at.x() + 3);
    label.item->setPos(corner);
}

}  // namespace

QColor C2DLineGraph::readableColour(const QColor& colour) {
    constexpr double kMinContrast = 3.0;
    if (contrastOnWhite(colour) >= kMinContrast) return colour;
    QColor c = colour.toHsv();
    // A dark yellow reads as olive; gold keeps it a yellow.
    if (c.hsvHue() >= 50 && c.hsvHue() <= 70) c.setHsv(45, c.hsvSaturation(), c.value());
    while (contrastOnWhite(c) < kMinContrast && c.value() > 0) c.setHsv(c.hsvHue(), c.hsvSaturation(), c.value() - 5);
    return c.toRgb();
}

QChart* C2DLineGraph::build(const GraphData& data) {
    auto* chart = new QChart;
    chart->setTitle(data.title);
    chart->legend()->setVisible(!data.series.isEmpty());
    chart->legend()->setAlignment(Qt::AlignBottom);

    auto* axisX = new QBarCategoryAxis;
    axisX->append(data.segments);
    // Whole names, turned when they do not fit side by side.
    axisX->setTruncateLabels(false);
    auto* axisY = valueAxis(data);
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);

    auto labels = std::make_shared<std::vector<ValueLabel>>();
    QFont labelFont = chart->font();
    labelFont.setPointSizeF(std::max(7.0, labelFont.pointSizeF() * 0.9));
    for (int index = 0; index < data.series.size(); ++index)
        addSeries(chart, axisX, axisY, data.series[index], index, labelFont, *labels);

    // Placed whenever the plot area changes (the chart is laid out or
    // resized).
    const auto segments = data.segments;
    const auto series = data.series;
    const auto place = [chart, axisX, labels, segments, series] {
        const QRectF plot = chart->plotArea();
        if (plot.isEmpty()) return;
        turnSegmentNames(axisX, segments, plot);
        for (const ValueLabel& label : *labels) placeValueLabel(chart, plot, label, series);
    };
    QObject::connect(chart, &QChart::plotAreaChanged, chart, place);
    return chart;
}

}  // namespace kestrel
