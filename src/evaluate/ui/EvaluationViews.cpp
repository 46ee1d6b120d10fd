#include "evaluate/ui/EvaluationViews.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

#include "evaluate/Evaluation.h"
#include "evaluate/ui/ResultViewSupport.h"
#include "widgets/CMsflexgrid.h"

namespace kestrel {

namespace {

QString percentText(double value) { return QString::number(value * 100, 'f', 2) + QLatin1Char('%'); }

}  // namespace

HeatMapData confusionHeatMap(const Evaluation& evaluation, const CategoryTable& categories) {
    HeatMapData data;
    for (const CategoryEntry& category : categories) data.names << displayText(category.name);
    for (const auto& row : evaluation.confusion()) {
        QVector<quint32> counts;
        for (uint32_t count : row) counts << count;
        data.counts << counts;
    }
    data.rowTitle = QStringLiteral("应属类（真实类别）");
    data.columnTitle = QStringLiteral("划分类（分类器判定的类别）");
    data.legendTitle = QStringLiteral("颜色：该格文档数占所在行（应属类）文档数的比例");
    return data;
}

QString heatMapCaption() {
    return QStringLiteral("行：应属类（真实类别）　列：划分类（判定类别）　颜色：占所在行文档数的比例");
}

void shadeConfusionGrid(CMsflexgrid& grid, const HeatMapData& data) {
    const int n = static_cast<int>(data.names.size());
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const double share = rowShare(data, r, c);
            grid.setCellColours(r + 1, c + 1, heatColour(share), heatTextColour(share));
            grid.setCellToolTip(r + 1, c + 1,
                                QStringLiteral("应属类 %1，划分类 %2：%3篇，占%4")
                                    .arg(data.names[r], data.names[c])
                                    .arg(data.counts[r][c])
                                    .arg(percentText(share)));
        }
        grid.setCellToolTip(r + 1, 0, QStringLiteral("应属类（真实类别）：%1").arg(data.names[r]));
        grid.setCellToolTip(0, r + 1, QStringLiteral("划分类（判定类别）：%1").arg(data.names[r]));
    }
}

void fillScoreGrid(CMsflexgrid& grid, const std::vector<CategoryScore>& scores) {
    const QStringList headers = {QStringLiteral("类别"), QStringLiteral("查全率"), QStringLiteral("查准率"),
                                 QStringLiteral("F1值"), QStringLiteral("文档数")};
    grid.setRows(static_cast<int>(scores.size()) + 1);
    grid.setCols(static_cast<int>(headers.size()));
    grid.setFixedRows(1);
    grid.setFixedCols(1);
    for (int c = 0; c < headers.size(); ++c) grid.setTextMatrix(0, c, headers[c]);
    grid.setCellToolTip(0, 4, QStringLiteral("真正属于该类的测试文档数"));
    for (size_t i = 0; i < scores.size(); ++i) {
        const CategoryScore& s = scores[i];
        const int row = static_cast<int>(i) + 1;
        grid.setTextMatrix(row, 0, QString::fromStdString(s.name));
        const double values[] = {s.recall, s.precision, s.f1};
        for (int c = 0; c < 3; ++c) grid.setTextMatrix(row, c + 1, s.counted ? percentText(values[c]) : "-");
        grid.setTextMatrix(row, 4, QString::number(s.support));
        if (!s.counted) grid.setCellToolTip(row, 0, QStringLiteral("没有测试文档属于或被划分到该类，不计入宏平均"));
    }
    for (int c = 0; c < headers.size(); ++c) grid.widenColumnToText(c);
}

QImage evaluationPicture(const QPixmap& chart, const HeatMapData& data) {
    QFont font = QApplication::font();
    font.setPointSizeF(std::max(11.0, font.pointSizeF()));
    const QImage heatMap = drawHeatMap(data, font);
    const QSize chartSize = chart.deviceIndependentSize().toSize();
    QImage picture(std::max(chartSize.width(), heatMap.width()), chartSize.height() + heatMap.height(),
                   QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(QRect(QPoint(0, 0), chartSize), chart);
    painter.drawImage((picture.width() - heatMap.width()) / 2, chartSize.height(), heatMap);
    return picture;
}

}  // namespace kestrel
