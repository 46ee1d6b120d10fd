#pragma once
// A grid of text cells with fixed (header) rows and columns, addressed like
// the FlexGrid control: setTextMatrix(row, col), column widths in twips.
#include <QTableWidget>

namespace kestrel {

class CMsflexgrid : public QTableWidget {
    Q_OBJECT
public:
    explicit CMsflexgrid(QWidget* parent = nullptr);

    void setRows(int rows);
    void setCols(int cols);
    int rows() const { return rowCount(); }
    int cols() const { return columnCount(); }
    // The first `n` rows / columns are drawn as headers.
    void setFixedRows(int n);
    void setFixedCols(int n);
    int fixedRows() const { return fixedRows_; }
    int fixedCols() const { return fixedCols_; }

    // Cell text; cells outside the grid are ignored / read as empty.
    void setTextMatrix(int row, int col, const QString& text);
    QString textMatrix(int row, int col) const;

    // Column width in twips (1/1440 inch, 15 twips to a pixel at 96 dpi).
    void setColWidth(int col, int twips);
    static int twipsToPixels(int twips);
    // Widens a column so that its longest text fits; never narrows it.
    void widenColumnToText(int col);

    // Colours of one cell, and the tooltip it shows. Changing the grid's
    // shape or fixed rows and columns restores the usual colours.
    void setCellColours(int row, int col, const QColor& background, const QColor& text);
    void setCellToolTip(int row, int col, const QString& tip);

    // Removes every cell text, keeping the shape.
    void clearCells();

private:
    void restyle();
    QTableWidgetItem* cell(int row, int col);

    int fixedRows_ = 1;
    int fixedCols_ = 1;
};

}  // namespace kestrel
