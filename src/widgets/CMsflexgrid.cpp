#include "widgets/CMsflexgrid.h"

#include <QHeaderView>

namespace kestrel {

CMsflexgrid::CMsflexgrid(QWidget* parent) : QTableWidget(parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    horizontalHeader()->setDefaultSectionSize(64);
}

void CMsflexgrid::setRows(int rows) {
    setRowCount(std::max(rows, 0));
    restyle();
}

void CMsflexgrid::setCols(int cols) {
    setColumnCount(std::max(cols, 0));
    restyle();
}

void CMsflexgrid::setFixedRows(int n) {
    fixedRows_ = std::max(n, 0);
    restyle();
}

void CMsflexgrid::setFixedCols(int n) {
    fixedCols_ = std::max(n, 0);
    restyle();
}

QTableWidgetItem* CMsflexgrid::cell(int row, int col) {
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount()) return nullptr;
    QTableWidgetItem* it = item(row, col);
    if (!it) {
        it = new QTableWidgetItem;
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (row < fixedRows_ || col < fixedCols_) {
            it->setBackground(palette().brush(QPalette::Button));
            it->setTextAlignment(Qt::AlignCenter);
        } else {
            it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        setItem(row, col, it);
    }
    return it;
}

void CMsflexgrid::setTextMatrix(int row, int col, const QString& text) {
    if (QTableWidgetItem* it = cell(row, col)) it->setText(text);
}

QString CMsflexgrid::textMatrix(int row, int col) const {
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

void CMsflexgrid::setCellColours(int row, int col, const QColor& background, const QColor& text) {
    if (QTableWidgetItem* it = cell(row, col)) {
        it->setBackground(background);
        it->setForeground(text);
    }
}

void CMsflexgrid::setCellToolTip(int row, int col, const QString& tip) {
    if (QTableWidgetItem* it = cell(row, col)) it->setToolTip(tip);
}

int CMsflexgrid::twipsToPixels(int twips) { return (std::max(twips, 0) + 7) / 15; }

void CMsflexgrid::setColWidth(int col, int twips) {
    if (col >= 0 && col < columnCount()) setColumnWidth(col, twipsToPixels(twips));
}

void CMsflexgrid::widenColumnToText(int col) {
    if (col < 0 || col >= columnCount()) return;
    int needed = 0;
    for (int r = 0; r < rowCount(); ++r)
        if (const QTableWidgetItem* it = item(r, col))
            needed = std::max(needed, fontMetrics().horizontalAdvance(it->text()) + 12);
    if (needed > columnWidth(col)) setColumnWidth(col, needed);
}

void CMsflexgrid::clearCells() {
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QTableWidgetItem* it = item(r, c)) it->setText(QString());
}

// Header cells are shaded and centred; every cell exists so that the grid
// lines and shading show even where no text was set.
void CMsflexgrid::restyle() {
    for (int r = 0; r < rowCount(); ++r) {
        for (int c = 0; c < columnCount(); ++c) {
            QTableWidgetItem* it = cell(r, c);
            const bool fixed = r < fixedRows_ || c < fixedCols_;
            it->setBackground(fixed ? palette().brush(QPalette::Button) : palette().brush(QPalette::Base));
            it->setForeground(palette().brush(QPalette::Text));
            it->setTextAlignment(fixed ? Qt::AlignCenter : (Qt::AlignRight | Qt::AlignVCenter));
        }
    }
}

}  // namespace kestrel
