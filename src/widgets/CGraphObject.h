#pragma once
// A chart window: a title, a subtitle (the unit), labelled segments along the
// horizontal axis and named, coloured series with one whole-number value per
// segment. The drawing is done by the graph type's class (C2DBarGraph, bars).
#include <QColor>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QChartView;

namespace kestrel {

struct GraphSeries {
    QString name;
    QColor colour;
    QVector<int> values;  // one per segment
};

struct GraphData {
    QString title;
    QString subtitle;
    QStringList segments;
    QVector<GraphSeries> series;
};

class CGraphObject : public QWidget {
    Q_OBJECT
public:
    enum GraphType { BarGraph2D };

    explicit CGraphObject(QWidget* parent = nullptr);

    // Starts an empty graph of the type.
    void createGraph(GraphType type = BarGraph2D);
    void setGraphTitle(const QString& title);
    void setGraphSubtitle(const QString& subtitle);
    // Adds a segment or a series and returns its index.
    int addSegment(const QString& label);
    int addSeries(const QString& name, const QColor& colour);
    // Out-of-range indices are ignored.
    void setValue(int segment, int series, int value);
    // Redraws the chart from the data (called after the data is complete).
    void refresh();

    // The chart drawn at `size` pixels, whatever the window's size.
    QPixmap picture(const QSize& size) const;

    const GraphData& data() const { return data_; }
    QChartView* chartView() const { return view_; }

private:
    GraphType type_ = BarGraph2D;
    GraphData data_;
    QChartView* view_;
};

}  // namespace kestrel
