#include "widgets/CButtonST.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

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
