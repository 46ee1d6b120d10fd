#include "widgets/CBkDialog.h"

#include <QLinearGradient>
#include <QPainter>

namespace kestrel {

CBkDialog::CBkDialog(QWidget* parent) : QDialog(parent) {}

void CBkDialog::setBackgroundImage(const QPixmap& image) {
    background_ = image;
    update();
}

void CBkDialog::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!background_.isNull()) {
        painter.drawPixmap(rect(), background_);
    } else {
        const QColor base = palette().color(QPalette::Window);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, base.lighter(108));
        gradient.setColorAt(1, base.darker(106));
        painter.fillRect(rect(), gradient);
    }
    QDialog::paintEvent(event);
}

}  // namespace kestrel
