#include "evaluate/ui/ResultViewSupport.h"

#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTreeWidget>

#include "common/Encoding.h"

namespace kestrel {

namespace {

QPixmap blank() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A closed folder; the root gets an open stack of documents instead.
QPixmap drawFolder(const QColor& colour) {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour);
    QPainterPath path;
    path.moveTo(1.5, 4.5);
    path.lineTo(6, 4.5);
    path.lineTo(7.5, 6);
    path.lineTo(14.5, 6);
    path.lineTo(14.5, 13.5);
    path.lineTo(1.5, 13.5);
    path.closeSubpath();
    p.drawPath(path);
    return pixmap;
}

QPixmap drawDocuments() {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(70, 90, 130), 1));
    for (int k = 2; k >= 0; --k) {
        p.setBrush(k == 0 ? QColor(250, 250, 255) : QColor(215, 225, 245));
        p.drawRect(QRectF(2.5 + 2 * k, 1.5 + 2 * k, 8, 10));
    }
    p.drawLine(QPointF(4.5, 5), QPointF(8.5, 5));
    p.drawLine(QPointF(4.5, 7.5), QPointF(8.5, 7.5));
    return pixmap;
}

QPixmap drawMark(bool correct) {
    QPixmap pixmap = blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(correct ? QColor(0, 150, 40) : QColor(210, 30, 30), 2.4);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    if (correct) {
        p.drawLine(QPointF(3, 8.5), QPointF(6.5, 12));
        p.drawLine(QPointF(6.5, 12), QPointF(13, 4));
    } else {
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    }
    return pixmap;
}

}  // namespace

QIcon resultIcon(ResultIcon which) {
    switch (which) {
    case ResultIcon::Root: return QIcon(drawDocuments());
    case ResultIcon::Category: return QIcon(drawFolder(QColor(240, 200, 90)));
    case ResultIcon::Correct: return QIcon(drawMark(true));
    case ResultIcon::Wrong: return QIcon(drawMark(false));
    }
    return {};
}

QString displayText(std::string_view bytes) { return QString::fromStdString(toUtf8(bytes)); }

QTreeWidgetItem* fillCategoryTree(QTreeWidget* tree, const CategoryTable& categories) {
    tree->clear();
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    auto* root = new QTreeWidgetItem(tree, QStringList(QStringLiteral("测试文档")));
    root->setIcon(0, resultIcon(ResultIcon::Root));
    root->setData(0, kCategoryRole, -1);
    const QIcon categoryIcon = resultIcon(ResultIcon::Category);
    for (size_t i = 0; i < categories.size(); ++i) {
        auto* item = new QTreeWidgetItem(root, QStringList(displayText(categories[i].name)));
        item->setIcon(0, categoryIcon);
        item->setData(0, kCategoryRole, static_cast<int>(i));
    }
    root->setExpanded(true);
    return root;
}

void setUpReportList(QTreeWidget* list, const QStringList& columns, const QList<int>& widths) {
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setStretchLastSection(false);
    list->setColumnCount(static_cast<int>(columns.size()));
    list->setHeaderLabels(columns);
    for (int i = 0; i < widths.size() && i < columns.size(); ++i) list->setColumnWidth(i, widths[i]);
}

}  // namespace kestrel
