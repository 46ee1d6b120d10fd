#pragma once
// A confusion matrix as a heat map: each cell shaded by the share of its
// row it holds, so that a row's misassignments stand out whatever the size
// of the category. The colours serve the window's grid and the drawn
// picture alike.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QStringList>
#include <QVector>
#include <QWidget>

namespace kestrel {

struct HeatMapData {
    QStringList names;               // of the rows and, in the same order, the columns
    QVector<QVector<quint32>> counts;  // [row][column]
    QString rowTitle;                // what the rows are
    QString columnTitle;             // what the columns are
    QString legendTitle;             // what the shade means
};

// The share of row `row` that cell (row, column) holds; 0 for an empty row.
double rowShare(const HeatMapData& data, int row, int column);
// White for 0, a deep blue for 1.
QColor heatColour(double share);
// Black or white, whichever reads better on heatColour(share).
QColor heatTextColour(double share);

// The heat map drawn whole: the column title and names above the cells, the
// row title and names to their left, each cell with its count, and a legend
// of the shades below.
QImage drawHeatMap(const HeatMapData& data, const QFont& font);

// The legend as a small widget: the shades from 0 % to 100 %.
class HeatLegend : public QWidget {
    Q_OBJECT
public:
    explicit HeatLegend(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kestrel
