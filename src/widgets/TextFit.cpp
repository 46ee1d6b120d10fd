#include "widgets/TextFit.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QTextLayout>

namespace kestrel {

bool labelShowsWholeText(const QLabel& label, QString* problem) {
    const QRect area = label.contentsRect().adjusted(label.margin(), label.margin(), -label.margin(), -label.margin());
    QString text = label.text();
    // The label lays its text out as QPainter::drawText does: a line break
    // ends a line, and a wrapping label breaks lines at word boundaries (any
    // character boundary in Chinese text), never inside a latin word.
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, label.font());
    QTextOption option;
    option.setWrapMode(label.wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
    layout.setTextOption(option);
    const qreal leading = QFontMetricsF(label.font()).leading();
    qreal height = -leading;
    int lines = 0, linesFitting = 0;
    QString tooWide;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        if (tooWide.isEmpty() && line.naturalTextWidth() > area.width() + 0.5)
            tooWide = text.mid(line.textStart(), line.textLength());
        height += leading + line.height();
        ++lines;
        if (height <= area.height() + 0.5) ++linesFitting;
    }
    layout.endLayout();
    if (!tooWide.isEmpty()) {
        if (problem) *problem = QStringLiteral("line wider than its label (%1 px): %2").arg(area.width()).arg(tooWide);
        return false;
    }
    if (linesFitting < lines) {
        if (problem)
            *problem = QStringLiteral("%1 of %2 lines below the label's height (%3 px)")
                           .arg(lines - linesFitting)
                           .arg(lines)
                           .arg(area.height());
        return false;
    }
    return true;
}

}  // namespace kestrel
