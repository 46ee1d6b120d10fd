#pragma once
// A chart window: a title, a subtitle (the unit), labelled segments along the
// horizontal axis and named, coloured series with one whole-number value per
// segment. The drawing is done by the graph type's class (C2DLineGraph).
#include <QColor>
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
    enum GraphType { LineGraph2D };

    explicit CGraphObject(QWidget* parent = nullptr);

    // Starts an empty graph of the type.
    void createGraph(GraphType type = LineGraph2D);
    void setGraphTitle(const QString& title);
    void setGraphSubtitle(const QString& subtitle);
    // Adds a segment or a series and returns its index.
    int addSegment(const QString& label);
    int addSeries(const QString& name, const QColor& colour);
    // Out-of-range indices are ignored.
    void setValue(int segment, int series, int value);
    // Redraws the chart from the data (called after the data is complete).
    void refresh();

    // Draws the chart at `size` pixels into a PNG file (written whole or
    // not at all). False, with `error` set, when it cannot be written.
    bool saveImage(const QString& path, const QSize& size, QString* error = nullptr) const;

    const GraphData& data() const { return data_; }
    QChartView* chartView() const { return view_; }

private:
    GraphType type_ = LineGraph2D;
    GraphData data_;
    QChartView* view_;
};

}  // namespace kestrel
