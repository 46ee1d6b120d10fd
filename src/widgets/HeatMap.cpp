#include "widgets/HeatMap.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

namespace kestrel {

namespace {

const QColor kEmpty(Qt::white);
const QColor kFull(23, 84, 160);
constexpr int kMargin = 16;
constexpr int kLegendWidth = 200;

// The shades from 0 to 1, left to right, framed.
void paintShades(QPainter& painter, const QRect& bar, const QColor& frame) {
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    gradient.setColorAt(0, heatColour(0));
    gradient.setColorAt(1, heatColour(1));
    painter.fillRect(bar, gradient);
    painter.setPen(frame);
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
}

// The legend in one row: "0%", the shades, "100%", what they mean.
int legendRowWidth(const QFontMetrics& metrics, const QString& title) {
    return metrics.horizontalAdvance(QStringLiteral("0%")) + kLegendWidth +
           metrics.horizontalAdvance(QStringLiteral("100%")) + metrics.horizontalAdvance(title) + 3 * 8;
}

void drawLegend(QPainter& painter, QPoint at, const QString& title) {
    const QFontMetrics metrics = painter.fontMetrics();
    const int height = metrics.height();
    auto text = [&](const QString& words) {
        const int width = metrics.horizontalAdvance(words);
        painter.setPen(Qt::black);
        painter.drawText(QRect(at.x(), at.y(), width, height), Qt::AlignLeft | Qt::AlignVCenter, words);
        at.rx() += width + 8;
    };
    text(QStringLiteral("0%"));
    paintShades(painter, QRect(at.x(), at.y() + 2, kLegendWidth, height - 4), QColor(120, 120, 120));
    at.rx() += kLegendWidth + 8;
    text(QStringLiteral("100%"));
    text(title);
}

// Geometry of the drawn map: the column title and names above the cells,
// the row title (turned) and names to their left, the legend below.
struct Layout {
    int lineHeight;
    int cellWidth, cellHeight;
    int rowNamesWidth;
    int columnNamesHeight;
    bool turnColumnNames;
    QRect cells;
    int rowTitleSpan;  // the height along which the turned row title runs
    QPoint legend;     // top left of the legend row
    QSize size;
};

Layout layOut(const HeatMapData& data, const QFontMetrics& metrics) {
    Layout l;
    l.lineHeight = metrics.height();
    int widestCount = 0, widestName = 0;
    for (const auto& row : data.counts)
        for (quint32 count : row) widestCount = std::max(widestCount, metrics.horizontalAdvance(QString::number(count)));
    for (const QString& name : data.names) widestName = std::max(widestName, metrics.horizontalAdvance(name));
    l.cellWidth = std::max(3 * l.lineHeight, widestCount + 16);
    l.cellHeight = l.lineHeight + 14;
    l.rowNamesWidth = widestName + 12;
    l.turnColumnNames = widestName + 8 > l.cellWidth;
    l.columnNamesHeight = (l.turnColumnNames ? widestName : l.lineHeight) + 8;
    const int n = static_cast<int>(data.names.size());
    const int left = kMargin + l.lineHeight + 8 + l.rowNamesWidth;
    const int top = kMargin + l.lineHeight + 6 + l.columnNamesHeight;
    l.cells = QRect(left, top, n * l.cellWidth, n * l.cellHeight);
    l.rowTitleSpan = std::max(l.cells.height(), metrics.horizontalAdvance(data.rowTitle) + 8);
    l.legend = QPoint(kMargin, top + l.rowTitleSpan + 14);
    const int width = std::max({l.cells.right() + 1, left + metrics.horizontalAdvance(data.columnTitle),
                                l.legend.x() + legendRowWidth(metrics, data.legendTitle)}) +
                      kMargin;
    l.size = QSize(width, l.legend.y() + l.lineHeight + kMargin);
    return l;
}

void drawNames(QPainter& painter, const HeatMapData& data, const Layout& l) {
    const int n = static_cast<int>(data.names.size());
    for (int i = 0; i < n; ++i) {
        const QRect rowName(l.cells.left() - l.rowNamesWidth, l.cells.top() + i * l.cellHeight, l.rowNamesWidth - 6,
                            l.cellHeight);
        painter.drawText(rowName, Qt::AlignRight | Qt::AlignVCenter, data.names[i]);
        const int x = l.cells.left() + i * l.cellWidth;
        if (!l.turnColumnNames) {
            painter.drawText(QRect(x, l.cells.top() - l.columnNamesHeight, l.cellWidth, l.columnNamesHeight - 4),
                             Qt::AlignHCenter | Qt::AlignBottom, data.names[i]);
            continue;
        }
        painter.save();
        painter.translate(x + l.cellWidth / 2 - l.lineHeight / 2, l.cells.top() - 4);
        painter.rotate(-90);
        painter.drawText(QRect(0, 0, l.columnNamesHeight - 4, l.lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         data.names[i]);
        painter.restore();
    }
}

}  // namespace

double rowShare(const HeatMapData& data, int row, int column) {
    if (row < 0 || row >= data.counts.size()) return 0;
    const auto& counts = data.counts[row];
    if (column < 0 || column >= counts.size()) return 0;
    quint64 total = 0;
    for (quint32 count : counts) total += count;
    return total == 0 ? 0.0 : static_cast<double>(counts[column]) / static_cast<double>(total);
}

QColor heatColour(double share) {
    const double s = std::clamp(share, 0.0, 1.0);
    auto mix = [s](int from, int to) { return static_cast<int>(from + (to - from) * s + 0.5); };
    return QColor(mix(kEmpty.red(), kFull.red()), mix(kEmpty.green(), kFull.green()), mix(kEmpty.blue(), kFull.blue()));
}

QColor heatTextColour(double share) { return share > 0.45 ? QColor(Qt::white) : QColor(Qt::black); }

QImage drawHeatMap(const HeatMapData& data, const QFont& font) {
    const QFontMetrics metrics(font);
    const Layout l = layOut(data, metrics);
    QImage image(l.size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(Qt::black);

    // The axis titles: the columns' above the cells, the rows' turned
    // along their left side, centred on the rows.
    painter.drawText(QRect(l.cells.left(), kMargin, l.size.width() - l.cells.left(), l.lineHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, data.columnTitle);
    painter.save();
    painter.translate(kMargin, l.cells.top() + l.rowTitleSpan);
    painter.rotate(-90);
    painter.drawText(QRect(0, 0, l.rowTitleSpan, l.lineHeight), Qt::AlignCenter, data.rowTitle);
    painter.restore();
    drawNames(painter, data, l);

    const int n = static_cast<int>(data.names.size());
    for (int r = 0; r < n && r < data.counts.size(); ++r) {
        for (int c = 0; c < n && c < data.counts[r].size(); ++c) {
            const QRect cell(l.cells.left() + c * l.cellWidth, l.cells.top() + r * l.cellHeight, l.cellWidth,
                             l.cellHeight);
            const double share = rowShare(data, r, c);
            painter.fillRect(cell, heatColour(share));
            painter.setPen(QColor(200, 200, 200));
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
            painter.setPen(heatTextColour(share));
            painter.drawText(cell, Qt::AlignCenter, QString::number(data.counts[r][c]));
        }
    }
    drawLegend(painter, l.legend, data.legendTitle);
    return image;
}

HeatLegend::HeatLegend(QWidget* parent) : QWidget(parent) {}

QSize HeatLegend::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return QSize(metrics.horizontalAdvance(QStringLiteral("100%")) * 2 + 120, metrics.height() + 4);
}

void HeatLegend::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const int labelWidth = metrics.horizontalAdvance(QStringLiteral("100%")) + 6;
    const QRect bar(labelWidth, 2, width() - 2 * labelWidth, height() - 4);
    paintShades(painter, bar, palette().color(QPalette::Mid));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(0, 0, labelWidth - 4, height()), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0%"));
    painter.drawText(QRect(bar.right() + 5, 0, labelWidth, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("100%"));
}

}  // namespace kestrel
