#include "widgets/C2DBarGraph.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QFontMetrics>
#include <QGraphicsSimpleTextItem>
#include <QPen>
#include <QValueAxis>
#include <cmath>
#include <memory>

#include "widgets/CGraphObject.h"

namespace kestrel {

namespace {

// Share of a segment's width the bars take together.
constexpr qreal kBarWidth = 0.8;

double channel(int value) {
    const double c = value / 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A value written on or above one bar.
struct ValueLabel {
    QGraphicsSimpleTextItem* item;
    QBarSeries* bars;
    int series;
    int segment;
    int value;
    QColor colour;
};

QValueAxis* valueAxis(const GraphData& data) {
    auto* axisY = new QValueAxis;
    axisY->setRange(0, 100);
    axisY->setTickCount(6);
    axisY->setLabelFormat("%d");
    axisY->setTitleText(data.subtitle);
    return axisY;
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

// Puts a value label on its bar: inside the bar's top end in a colour that
// reads on the bar when the bar is tall enough, else just above it; turned
// upright when it is wider than the bar.
void placeValueLabel(QChart* chart, const ValueLabel& label, int seriesCount) {
    const qreal barUnits = kBarWidth / seriesCount;
    const qreal centre = label.segment - kBarWidth / 2 + (label.series + 0.5) * barUnits;
    const QPointF top = chart->mapToPosition(QPointF(centre, label.value), label.bars);
    const QPointF bottom = chart->mapToPosition(QPointF(centre, 0), label.bars);
    const qreal barPixels = chart->mapToPosition(QPointF(centre + barUnits / 2, 0), label.bars).x() -
                            chart->mapToPosition(QPointF(centre - barUnits / 2, 0), label.bars).x();
    const QRectF text = label.item->boundingRect();
    const bool upright = text.width() + 2 > barPixels;
    label.item->setRotation(upright ? -90 : 0);
    // Extent along the bar and across it.
    const qreal along = upright ? text.width() : text.height();
    const qreal across = upright ? text.height() : text.width();
    const bool inside = bottom.y() - top.y() >= along + 6;
    const qreal end = inside ? top.y() + 3 + along : top.y() - 2;  // lower end of the text
    if (inside) {
        const QColor light(Qt::white), dark(30, 30, 30);
        label.item->setBrush(contrast(light, label.colour) >= contrast(dark, label.colour) ? light : dark);
    } else {
        label.item->setBrush(label.colour.darker(120));
    }
    // A turned item's origin is its lower left corner (it reads upwards).
    label.item->setPos(upright ? QPointF(top.x() - across / 2, end) : QPointF(top.x() - across / 2, end - along));
}

}  // namespace

QColor C2DBarGraph::readableColour(const QColor& colour) {
    constexpr double kMinContrast = 3.0;
    if (contrast(colour, Qt::white) >= kMinContrast) return colour;
    QColor c = colour.toHsv();
    // A dark yellow reads as olive; gold keeps it a yellow.
    if (c.hsvHue() >= 50 && c.hsvHue() <= 70) c.setHsv(45, c.hsvSaturation(), c.value());
    while (contrast(c, Qt::white) < kMinContrast && c.value() > 0)
        c.setHsv(c.hsvHue(), c.hsvSaturation(), c.value() - 5);
    return c.toRgb();
}

QChart* C2DBarGraph::build(const GraphData& data) {
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

    auto* bars = new QBarSeries;
    bars->setBarWidth(kBarWidth);
    QFont labelFont = chart->font();
    labelFont.setPointSizeF(std::max(7.0, labelFont.pointSizeF() * 0.85));
    auto labels = std::make_shared<std::vector<ValueLabel>>();
    for (int index = 0; index < data.series.size(); ++index) {
        const GraphSeries& s = data.series[index];
        auto* set = new QBarSet(s.name);
        const QColor colour = readableColour(s.colour);
        set->setColor(colour);
        set->setBorderColor(colour);
        for (int value : s.values) set->append(value);
        bars->append(set);
        for (int i = 0; i < s.values.size(); ++i) {
            auto* item = new QGraphicsSimpleTextItem(QString::number(s.values[i]), chart);
            item->setFont(labelFont);
            item->setZValue(10);
            item->setData(0, QStringLiteral("value"));
            labels->push_back({item, bars, index, i, s.values[i], colour});
        }
    }
    chart->addSeries(bars);
    bars->attachAxis(axisX);
    bars->attachAxis(axisY);

    // Placed whenever the plot area changes (the chart is laid out or
    // resized).
    const auto segments = data.segments;
    const int seriesCount = std::max<int>(1, static_cast<int>(data.series.size()));
    const auto place = [chart, axisX, labels, segments, seriesCount] {
        const QRectF plot = chart->plotArea();
        if (plot.isEmpty()) return;
        turnSegmentNames(axisX, segments, plot);
        for (const ValueLabel& label : *labels) placeValueLabel(chart, label, seriesCount);
    };
    QObject::connect(chart, &QChart::plotAreaChanged, chart, place);
    return chart;
}

}  // namespace kestrel
