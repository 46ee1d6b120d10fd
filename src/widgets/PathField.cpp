#include "widgets/PathField.h"

#include <QFocusEvent>
#include <QPainter>
#include <QTimer>

namespace kestrel {

namespace {

// QLineEdit keeps this many pixels free on either side of its text.
constexpr int kLineEditMargin = 2;

}  // namespace

PathField::PathField(const QString& path, QWidget* parent) : QLineEdit(path, parent) {
    setReadOnly(true);
    setFrame(false);
    setToolTip(path);
    setCursorPosition(0);
    // Reads as part of the message, not as an input field.
    setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
}

QRect PathField::textArea() const {
    const QMargins margins = textMargins();
    return contentsRect().adjusted(kLineEditMargin + margins.left(), margins.top(),
                                   -kLineEditMargin - margins.right(), -margins.bottom());
}

QString PathField::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textArea().width());
}

int PathField::naturalWidth() const {
    const QMargins margins = textMargins();
    // One more pixel for the cursor at the end of the text.
    return fontMetrics().horizontalAdvance(text()) + 2 * kLineEditMargin + margins.left() + margins.right() + 1;
}

void PathField::paintEvent(QPaintEvent* event) {
    if (hasFocus()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textArea(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

void PathField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // After the click that gave the focus has placed the cursor.
    QTimer::singleShot(0, this, [this] {
        if (hasFocus()) selectAll();
    });
}

}  // namespace kestrel
