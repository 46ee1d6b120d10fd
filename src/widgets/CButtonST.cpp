#include "widgets/CButtonST.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyleOptionToolButton>
#include <QStylePainter>

namespace kestrel {

CButtonST::CButtonST(const QString& caption, QWidget* parent) : QToolButton(parent) {
    setText(caption);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void CButtonST::setImage(const QIcon& image, const QSize& size) {
    setIcon(image);
    setIconSize(size);
}

void CButtonST::setFlat(bool flat) { setAutoRaise(flat); }

void CButtonST::setMark(Mark mark) {
    if (mark == mark_) return;
    mark_ = mark;
    update();
}

void CButtonST::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    const QColor next(30, 110, 210);
    if (mark_ == Mark::Next) {
        // A frame that stays when the mouse is elsewhere.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(next, 2));
        painter.setBrush(QColor(next.red(), next.green(), next.blue(), 28));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
    } else if (mark_ == Mark::Blocked) {
        option.icon = QIcon(icon().pixmap(iconSize(), QIcon::Disabled));
        option.palette.setColor(QPalette::ButtonText, palette().color(QPalette::Disabled, QPalette::ButtonText));
    }
    if (mark_ == Mark::Next) option.font.setBold(true);
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
    if (mark_ != Mark::Done && mark_ != Mark::Next) return;

    // A round badge at the picture's upper right corner.
    const int d = std::max(12, iconSize().width() * 2 / 5);
    const QRectF badge(width() / 2.0 + iconSize().width() / 2.0 - d * 0.6, 3, d, d);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(mark_ == Mark::Done ? QColor(30, 150, 60) : next);
    painter.drawEllipse(badge);
    painter.setPen(QPen(Qt::white, d / 7.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const auto at = [&](qreal x, qreal y) { return QPointF(badge.left() + x * d, badge.top() + y * d); };
    if (mark_ == Mark::Done) {
        painter.drawPolyline(QPolygonF({at(0.27, 0.52), at(0.43, 0.68), at(0.73, 0.34)}));
    } else {
        painter.setBrush(Qt::white);
        painter.setPen(Qt::NoPen);
        painter.drawPolygon(QPolygonF({at(0.36, 0.27), at(0.74, 0.5), at(0.36, 0.73)}));
    }
}

QPixmap CButtonST::makeImage(const QString& glyph, const QColor& colour, int size) {
    size = std::max(size, 8);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, size);
    gradient.setColorAt(0, colour.lighter(135));
    gradient.setColorAt(1, colour.darker(115));
    QPainterPath tile;
    const qreal radius = size / 5.0;
    tile.addRoundedRect(QRectF(1, 1, size - 2, size - 2), radius, radius);
    painter.fillPath(tile, gradient);
    painter.setPen(QPen(colour.darker(150), 1));
    painter.drawPath(tile);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(glyph.size() > 1 ? size * 2 / 5 : size * 3 / 5);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, glyph);
    return pixmap;
}

}  // namespace kestrel
